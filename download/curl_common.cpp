#include "download/curl_common.h"

#include <windows.h>

#include "download/network_policy.h"
#include "platform/strings.h"

namespace download {

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

CURLcode FirstFailure(std::initializer_list<CURLcode> results) {
  for (const CURLcode result : results)
    if (result != CURLE_OK) return result;
  return CURLE_OK;
}

CURLcode SetSafetyLimits(CURL* handle, const char* url, long stallSeconds) {
  return FirstFailure({curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects),
                       curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L),
                       curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, stallSeconds),
                       ApplyNetworkPolicy(handle, url)});
}

CURLcode SetBodyRequestOptions(CURL* handle, const BodyRequest& request) {
  return FirstFailure({
      curl_easy_setopt(handle, CURLOPT_URL, request.url),
      curl_easy_setopt(handle, CURLOPT_TIMEOUT, 0L),
      curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L),
      curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, request.write),
      curl_easy_setopt(handle, CURLOPT_WRITEDATA, request.writeData),
      curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L),
      curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, request.progress),
      curl_easy_setopt(handle, CURLOPT_XFERINFODATA, request.progressData),
      curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L),
      curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, request.connectMs),
      // No overall limit, but a stalled server becomes an ordinary failed
      // attempt instead of a download that never ends.
      SetSafetyLimits(handle, request.url, request.stallSeconds),
      curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, kReceiveBuffer),
  });
}

std::wstring CurlErrorText(int code) {
  if (code < 0) return L"Unknown error";
  return Utils::AnsiToWide(curl_easy_strerror(static_cast<CURLcode>(code)));
}

int64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace download
