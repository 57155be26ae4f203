#include "download/url_text.h"

#include "platform/strings.h"

namespace download {
namespace {
bool IsFileUrl(const std::wstring& url) { return url.rfind(L"file:///", 0) == 0; }
}  // namespace

std::string NarrowUrl(const std::wstring& url) {
  return IsFileUrl(url) ? Utils::WideToAnsi(url) : Utils::WideToUtf8(url);
}

std::wstring EscapeUrlForSystemDownload(const std::wstring& url) {
  if (IsFileUrl(url)) return url;
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (unsigned char c : Utils::WideToUtf8(url)) {
    if (c >= 33 && c <= 126) {
      escaped += static_cast<char>(c);
    } else if (c == ' ') {
      escaped += '+';
    } else {
      escaped += '%';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 15];
    }
  }
  return Utils::Utf8ToWide(escaped);
}

}  // namespace download
