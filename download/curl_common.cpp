#include "download/curl_common.h"

#include <windows.h>

#include "download/timing.h"
#include "platform/strings.h"

namespace download {

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

int SetSafetyLimits(CURL* handle, long stallSeconds) {
  int result = curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
  result |= curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
  result |= curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, stallSeconds);
  return result;
}

int SetHeadRequestOptions(CURL* handle, const std::string& url, curl_xferinfo_callback progress, void* data) {
  int result = curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  result |= curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  result |= curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
  result |= curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, DiscardBody);
  result |= curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
  // A server that accepts the connection and never answers must not hold
  // the worker for ever, nor keep the owner from being destroyed.
  result |= SetSafetyLimits(handle, CurrentTiming().singleStreamStallSeconds);
  result |= curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  result |= curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, progress);
  result |= curl_easy_setopt(handle, CURLOPT_XFERINFODATA, data);
  return result;
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
