#include "download/web_page.h"

#include <cstring>

#include "platform/log.h"
#include "platform/strings.h"

namespace download {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The text from data on matches the start of the marker (lower case) over
// their common length.
bool MatchesStart(const char* data, size_t size, const char* marker) {
  const size_t n = size < std::strlen(marker) ? size : std::strlen(marker);
  for (size_t i = 0; i < n; ++i)
    if (Lower(data[i]) != marker[i]) return false;
  return n > 0;
}

}  // namespace

bool IsWebPageType(const char* contentType) {
  if (!contentType) return false;
  while (IsSpace(*contentType)) ++contentType;
  static const char kHtml[] = "text/html";
  const size_t n = sizeof(kHtml) - 1;
  if (std::strlen(contentType) < n || _strnicmp(contentType, kHtml, n) != 0) return false;
  const char next = contentType[n];
  return next == 0 || next == ';' || IsSpace(next);
}

bool StartsLikeWebPage(const char* data, size_t size) {
  size_t i = 0;
  if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) i = 3;
  while (i < size && IsSpace(data[i])) ++i;
  return MatchesStart(data + i, size - i, "<!doctype html") || MatchesStart(data + i, size - i, "<html");
}

bool WebPageCheck::Refuses(CURL* handle, const char* data, size_t size, bool bodyStartsFile) {
  if (checked_) return false;
  checked_ = true;
  const char* type = nullptr;
  curl_easy_getinfo(handle, CURLINFO_CONTENT_TYPE, &type);
  if (IsWebPageType(type) || (bodyStartsFile && StartsLikeWebPage(data, size))) {
    OV_LOGS(L"web page instead of the package: type %s", type ? Utils::AnsiToWide(type).c_str() : L"none");
    found_ = true;
  }
  return found_;
}

}  // namespace download
