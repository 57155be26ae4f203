#include "download/curl_client.h"

#include <windows.h>

#include <cstdio>
#include <ctime>

#include "download/curl_common.h"
#include "download/timing.h"
#include "download/url_text.h"
#include "platform/log.h"
#include "platform/strings.h"

using download::CurlErrorText;

namespace {

size_t WriteToFile(char* data, size_t size, size_t count, void* file) {
  return fwrite(data, size, count, static_cast<FILE*>(file));
}

double ContentLength(CURL* handle, CURLcode* query) {
  curl_off_t length = -1;
  *query = curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  return *query == CURLE_OK ? static_cast<double>(length) : -1.0;
}

}  // namespace

CurlClient::CurlClient(const std::wstring& url, const std::wstring& path, void* owner, ProgressFn progress,
                       ReasonFn reportFailureReason)
    : url_(url),
      path_(path),
      owner_(owner),
      progress_(progress),
      reportFailureReason_(std::move(reportFailureReason)) {}

void CurlClient::ReportLengthStatus(long status) const {
  if (!reportFailureReason_) return;
  wchar_t reason[200];
  _snwprintf(reason, 200, L"1.获取文件大小的状态码为=%ld；", status);
  reason[199] = 0;
  reportFailureReason_(reason);
}

CurlClient::~CurlClient() {
  stop_ = true;
  DeleteFileW(GetFilePath(true).c_str());
}

CURL* CurlClient::NewHeadHandle(const std::string& url, int& optionResult) {
  CURL* handle = curl_easy_init();
  if (!handle) return nullptr;
  optionResult = download::SetHeadRequestOptions(handle, url, &CurlClient::ProgressCallback, this);
  return handle;
}

CURL* CurlClient::Head(const std::string& url) {
  int code = 0;
  CURL* handle = NewHeadHandle(url, code);
  if (handle && code == 0) {
    code = curl_easy_perform(handle);
    if (code != 0) OV_LOG(L"error:%d:%s", code, CurlErrorText(code).c_str());
  }
  OV_LOGS(L"error:%d:%s", code, CurlErrorText(code).c_str());
  return handle;
}

std::string CurlClient::GetRealUrl(CURL* handle) {
  const char* url = nullptr;
  if (!handle || curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &url) != CURLE_OK || !url) return {};
  return url;
}

double CurlClient::GetDownloadFileLength(CURL* handle) {
  if (!handle) return -1.0;
  CURLcode query;
  const double length = ContentLength(handle, &query);
  OV_LOGS(L"error:%d:%s", static_cast<int>(query), CurlErrorText(query).c_str());
  long status = 0;
  if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status >= 200 && status <= 399)
    return length;
  ReportLengthStatus(status);
  return -1.0;
}

std::string CurlClient::GetRealUrl_Str(const std::string& url) {
  int code = 0;
  std::string real;
  if (CURL* handle = NewHeadHandle(url, code)) {
    if (code == 0) {
      code = curl_easy_perform(handle);
      if (code != 0)
        OV_LOG(L"error:%d:%s", code, CurlErrorText(code).c_str());
      else
        real = GetRealUrl(handle);
    }
    curl_easy_cleanup(handle);
  }
  return real.empty() ? url : real;
}

double CurlClient::GetDownloadFileLength_Str(const std::string& url) {
  int code = 0;
  double length = -1.0;
  CURL* handle = NewHeadHandle(url, code);
  if (!handle) return length;
  code |= curl_easy_setopt(handle, CURLOPT_HEADER, 1L);
  if (code == 0) {
    curl_easy_perform(handle);
    CURLcode query;
    length = ContentLength(handle, &query);
    long status = 0;
    code = curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (code != 0 || status < 200 || status > 400) ReportLengthStatus(status);
  }
  OV_LOGS(L"error:%d:%s", code, CurlErrorText(code).c_str());
  curl_easy_cleanup(handle);
  return length;
}

int CurlClient::Start() {
  OV_LOGS(L"start download");
  const std::wstring partPath = GetFilePath(true);
  const std::string url = download::NarrowUrl(url_);
  if (realUrl_.empty() || length_ < kMinLength) {
    CURL* handle = Head(url);
    realUrl_ = GetRealUrl(handle);
    length_ = GetDownloadFileLength(handle);
    curl_easy_cleanup(handle);
  }
  if (realUrl_.empty() || length_ < kMinLength) {
    realUrl_ = GetRealUrl_Str(url);
    if (!realUrl_.empty()) length_ = GetDownloadFileLength_Str(realUrl_);
  }
  int result = length_ < kMinLength ? kLengthTooSmall : Transfer(partPath);
  if (result == 0) result = MoveIntoPlace(partPath, GetFilePath(false));
  OV_LOGS(L"error:%d:%s", result, CurlErrorText(result).c_str());
  OV_LOGS(L"end download");
  return result;
}

int CurlClient::Transfer(const std::wstring& partPath) {
  const int64_t length = static_cast<int64_t>(length_);
  // A side file longer than the package is not a prefix of it: start over.
  if (download::FileSize(partPath) > length) DeleteFileW(partPath.c_str());

  handle_ = curl_easy_init();
  if (!handle_) return kNoHandle;
  FILE* file = nullptr;
  if (_wfopen_s(&file, partPath.c_str(), L"ab+") != 0 || !file) {
    curl_easy_cleanup(handle_);
    handle_ = nullptr;
    return kSideFileFailed;
  }
  // Fewer, larger writes: each one is a system call (through Wine in tests).
  setvbuf(file, nullptr, _IOFBF, download::kFileBuffer);

  // Only the identity encoding: the body is stored as received, so a
  // compressed body would corrupt the package and its resume offsets.
  curl_slist* headers = curl_slist_append(nullptr, "Connection: keep-alive");
  headers = curl_slist_append(headers, "Accept-Encoding: identity");
  curl_easy_setopt(handle_, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(handle_, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(handle_, CURLOPT_TCP_KEEPIDLE, 10L);
  curl_easy_setopt(handle_, CURLOPT_TCP_KEEPINTVL, 10L);
  curl_easy_setopt(handle_, CURLOPT_TIMEOUT, 0L);
  int result = curl_easy_setopt(handle_, CURLOPT_URL, realUrl_.c_str());
  result |= curl_easy_setopt(handle_, CURLOPT_FOLLOWLOCATION, 1L);
  result |= curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, WriteToFile);
  result |= curl_easy_setopt(handle_, CURLOPT_WRITEDATA, file);
  result |= curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
  result |= curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, &CurlClient::ProgressCallback);
  result |= curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, this);
  result |= curl_easy_setopt(handle_, CURLOPT_FAILONERROR, 1L);
  result |= curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT, download::kConnectTimeoutSeconds);
  // No overall limit, but a stalled server becomes an ordinary failed
  // attempt instead of a download that never ends.
  result |= download::SetSafetyLimits(handle_, download::CurrentTiming().singleStreamStallSeconds);
  result |= curl_easy_setopt(handle_, CURLOPT_BUFFERSIZE, download::kReceiveBuffer);

  const int64_t existing = download::FileSize(partPath);
  resumeOffset_ = existing;
  if (existing > 0) result |= curl_easy_setopt(handle_, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(existing));
  // A side file already as long as the package (its move failed last time,
  // or the connection broke after the last byte) needs no request: asking
  // for the bytes after its end would only draw a 416.
  if (result == 0 && existing != length) result = curl_easy_perform(handle_);

  curl_easy_cleanup(handle_);
  handle_ = nullptr;
  curl_slist_free_all(headers);
  if (fclose(file) != 0 && result == 0) result = CURLE_WRITE_ERROR;
  if (result == CURLE_RANGE_ERROR) {
    // The server ignores ranges: the next attempt starts from zero instead
    // of failing the same way until the budget is spent.
    DeleteFileW(partPath.c_str());
  } else if (result == 0) {
    const int64_t size = download::FileSize(partPath);
    if (size < length) {
      result = CURLE_PARTIAL_FILE;  // the body was shorter than announced; resume
    } else if (size > length) {
      DeleteFileW(partPath.c_str());  // longer than the package: not our file
      result = CURLE_WEIRD_SERVER_REPLY;
    }
  }
  return result;
}

int CurlClient::MoveIntoPlace(const std::wstring& partPath, const std::wstring& targetPath) {
  DeleteFileW(targetPath.c_str());
  if (MoveFileExW(partPath.c_str(), targetPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) return 0;
  // The complete side file stays; the next attempt moves it without a request.
  OV_LOGS(L"move failed:%lu:%s", GetLastError(), targetPath.c_str());
  return CURLE_WRITE_ERROR;
}

int CurlClient::ProgressCallback(void* data, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t) {
  auto* self = static_cast<CurlClient*>(data);
  if (self->stop_) return 1;
  if (!self->handle_) return 0;  // a HEAD request: only the stop flag matters
  const int64_t now = _time64(nullptr);
  if (now < self->lastProgressSecond_ + 1) return 0;
  self->lastProgressSecond_ = now;

  curl_off_t speedBytes = 0;
  const double speed =
      curl_easy_getinfo(self->handle_, CURLINFO_SPEED_DOWNLOAD_T, &speedBytes) == CURLE_OK ? double(speedBytes) : 0.0;
  double percent;
  if (self->length_ > kMinLength) {
    percent = static_cast<double>(dlnow + self->resumeOffset_) / self->length_ * 100.0;
  } else {
    if (dlnow <= 0 || dltotal <= 0) return 0;
    percent = static_cast<double>(dlnow) * 100.0 / static_cast<double>(dltotal);
  }
  if (percent == 0.0) return 0;
  self->progress_(self->owner_, speed, percent);
  if (dltotal != 0)
    OV_LOG(L" %dM %dM   progress:%f%%  speed:%f \n", static_cast<int>(dlnow / 1048576),
           static_cast<int>(dltotal / 1048576), static_cast<double>(static_cast<float>(percent)),
           static_cast<double>(static_cast<float>(speed / 1024)));
  return 0;
}
