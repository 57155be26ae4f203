#include "platform/strings.h"

#include <windows.h>

#include <climits>
#include <cstdlib>
#include <cwchar>

namespace Utils {

std::string WideToMultiByte(std::wstring_view text, unsigned codePage) {
  if (text.empty()) return {};
  const int n =
      WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring MultiByteToWide(std::string_view text, unsigned codePage) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string LowerHex(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

int ParseLeadingInt(const std::wstring& text) {
  // wcstol rather than _wtoi: an out-of-range value saturates instead of being undefined.
  const long v = std::wcstol(text.c_str(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

std::wstring DecimalText(long long value) {
  const std::string digits = std::to_string(value);
  return std::wstring(digits.begin(), digits.end());
}

// The runtime's own reading, not mingw's wcstod that C++ code gets (its
// gdtoa parser, also for hexadecimal, "inf" and "nan", is 15 KB of the exe).
double ParseLeadingDouble(const std::wstring& text) { return _wtof(text.c_str()); }

}  // namespace Utils
