#include "download/resolver.h"

#include <curl/curl.h>

#include <cstring>

#include "download/curl_common.h"
#include "download/curl_handles.h"
#include "download/web_page.h"
#include "platform/log.h"
#include "platform/strings.h"

namespace download {
namespace {

// What one request learned. Valid fields only where the server said them.
struct Answer {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string url;
  int64_t length = -1;  // Content-Length
  ContentRange range;   // of the final response
  bool webPage = false;
};

struct Probe {
  const ResolveOptions* options;
  CURL* handle;
  ContentRange range;
  WebPageCheck page;
  bool stoppedReading = false;
};

int ProbeProgress(void* data, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const ResolveOptions& options = *static_cast<Probe*>(data)->options;
  return options.stopped && options.stopped() ? 1 : 0;
}

size_t ProbeHeader(char* data, size_t size, size_t count, void* user) {
  auto* probe = static_cast<Probe*>(user);
  const size_t n = size * count;
  if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) probe->range = {};  // a redirect's next response
  ParseContentRange(data, n, &probe->range);
  return n;
}

// The ranged GET's body is looked at, never read on: a server without
// ranges sends the whole package. Stopping here is no failure.
size_t ProbeBody(char* data, size_t size, size_t count, void* user) {
  auto* probe = static_cast<Probe*>(user);
  long status = 0;
  curl_easy_getinfo(probe->handle, CURLINFO_RESPONSE_CODE, &status);
  // An error status's page is no portal: it ends the probe as it is.
  if (status == 200 || status == 206) probe->page.Refuses(probe->handle, data, size * count, true);
  probe->stoppedReading = true;
  return 0;
}

Answer Ask(const std::string& url, bool head, const ResolveOptions& options) {
  Answer answer;
  if (options.clock && options.clock->Exhausted()) {
    answer.code = CURLE_OPERATION_TIMEDOUT;
    return answer;
  }
  const UniqueCurl owned(curl_easy_init());
  if (!owned) {
    answer.code = CURLE_FAILED_INIT;
    return answer;
  }
  CURL* const handle = owned.get();
  Probe probe{&options, handle};
  UniqueCurlList headers;
  AppendHeader(headers, "Connection: keep-alive");
  // A probe carries no package: its whole time is the wait for an answer.
  const long bound = static_cast<long>(options.clock ? options.clock->RequestBoundMs() : CurrentTiming().firstAnswerMs);
  answer.code = FirstFailure({
      curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get()),
      curl_easy_setopt(handle, CURLOPT_URL, url.c_str()),
      curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L),
      curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, bound),
      curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, bound),
      SetSafetyLimits(handle, url.c_str(), CurrentTiming().singleStreamStallSeconds),
      curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L),
      curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &ProbeProgress),
      curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &probe),
      head ? curl_easy_setopt(handle, CURLOPT_NOBODY, 1L) : curl_easy_setopt(handle, CURLOPT_RANGE, "0-0"),
      head ? curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &DiscardBody)
           : curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &ProbeBody),
      curl_easy_setopt(handle, CURLOPT_WRITEDATA, &probe),
      curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &ProbeHeader),
      curl_easy_setopt(handle, CURLOPT_HEADERDATA, &probe),
  });
  if (answer.code == CURLE_OK) answer.code = curl_easy_perform(handle);
  if (answer.code == CURLE_WRITE_ERROR && probe.stoppedReading) answer.code = CURLE_OK;
  const char* effective = nullptr;
  if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) answer.url = effective;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer.status);
  curl_off_t length = -1;
  if (curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK) answer.length = length;
  answer.range = probe.range;
  const char* type = nullptr;
  curl_easy_getinfo(handle, CURLINFO_CONTENT_TYPE, &type);
  answer.webPage = probe.page.found() || (head && answer.status == 200 && IsWebPageType(type));
  if (answer.status != 0 && options.clock) options.clock->Heard();
  if (answer.code == CURLE_OPERATION_TIMEDOUT && answer.status == 0) OV_LOGS(L"no answer within %ld ms", bound);
  OV_LOGS(L"%s status %ld length %lld error:%d:%s", head ? L"HEAD" : L"ranged GET", answer.status,
          static_cast<long long>(answer.length), static_cast<int>(answer.code), CurlErrorText(answer.code).c_str());
  return answer;
}

bool Stopped(const ResolveOptions& options) { return options.stopped && options.stopped(); }

// The length a HEAD answer gives, or -1; a status outside 200 to 399 is
// told to the owner, and its page's length is not the package's.
int64_t HeadLength(const Answer& head, const ResolveOptions& options) {
  if (head.status >= 200 && head.status <= 399) return head.length;
  if (options.badHeadStatus) options.badHeadStatus(head.status);
  return -1;
}

}  // namespace

const wchar_t* LengthSourceName(LengthSource source) {
  switch (source) {
    case LengthSource::kHead:
      return L"HEAD";
    case LengthSource::kRangedGet206:
      return L"ranged GET 206";
    case LengthSource::kRangedGet200:
      return L"ranged GET 200";
    default:
      return L"none";
  }
}

Resolution Resolve(const std::string& url, const ResolveOptions& options) {
  Resolution result;
  Answer head = Ask(url, true, options);
  result.url = head.url;
  result.length = HeadLength(head, options);
  result.webPage = head.webPage;
  for (int pass = 1; pass < options.headPasses && !result.webPage && !Stopped(options) &&
                     (result.url.empty() || result.length < options.minLength);
       ++pass) {
    const Answer located = Ask(url, true, options);
    result.url = located.code == CURLE_OK && !located.url.empty() ? located.url : url;
    head = Ask(result.url, true, options);
    result.length = HeadLength(head, options);
    result.webPage = head.webPage;
  }
  if (result.length >= 0) result.source = LengthSource::kHead;

  // HEAD answered, but not with a length: ask for the first byte.
  if (result.length < 0 && head.status != 0 && !result.webPage && !Stopped(options)) {
    const Answer ranged = Ask(url, false, options);
    result.webPage = ranged.webPage;
    if (!ranged.url.empty()) result.url = ranged.url;
    if (result.webPage) {
      // Measured neither way: a sign-in page is not the package.
    } else if (ranged.status == 206 && ranged.range.first == 0 && ranged.range.total > 0) {
      result.length = ranged.range.total;
      result.source = LengthSource::kRangedGet206;
    } else if (ranged.status == 200 && ranged.length >= 0) {
      result.length = ranged.length;
      result.ranges = false;
      result.source = LengthSource::kRangedGet200;
    }
  }
  if (result.webPage) {
    result.length = -1;
    result.source = LengthSource::kNone;
  }
  OV_LOGS(L"length %lld from %s%s", static_cast<long long>(result.length), LengthSourceName(result.source),
          result.ranges ? L"" : L", no ranges");
  return result;
}

bool ParseContentRange(const char* line, size_t size, ContentRange* range) {
  static const char kName[] = "content-range:";
  const size_t nameLength = sizeof(kName) - 1;
  if (size <= nameLength || _strnicmp(line, kName, nameLength) != 0) return false;
  const std::string value(line + nameLength, size - nameLength);
  const char* p = value.c_str();
  while (*p == ' ') ++p;
  if (_strnicmp(p, "bytes", 5) != 0) return false;
  p += 5;
  while (*p == ' ') ++p;
  // Digits only: _strtoi64 would take a sign or skip white space itself.
  const auto number = [&p](int64_t* out) {
    if (*p < '0' || *p > '9') return false;
    char* end = nullptr;
    *out = _strtoi64(p, &end, 10);
    p = end;
    return true;
  };
  ContentRange parsed;
  if (!number(&parsed.first) || *p++ != '-' || !number(&parsed.last) || parsed.last < parsed.first || *p++ != '/')
    return false;
  if (*p != '*' && !number(&parsed.total)) return false;
  *range = parsed;
  return true;
}

}  // namespace download
