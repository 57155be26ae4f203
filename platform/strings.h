// Text conversions at the edges: the program works in UTF-16 inside.
#pragma once

#include <string>
#include <string_view>

namespace Utils {

// Converts with WideCharToMultiByte/MultiByteToWideChar for the given code
// page (CP_ACP, CP_UTF8, 936, ...). Characters the code page lacks become
// the system's default character.
std::string WideToMultiByte(std::wstring_view text, unsigned codePage);
std::wstring MultiByteToWide(std::string_view text, unsigned codePage);

inline std::string WideToUtf8(std::wstring_view text) { return WideToMultiByte(text, 65001); }
inline std::wstring Utf8ToWide(std::string_view text) { return MultiByteToWide(text, 65001); }
inline std::string WideToAnsi(std::wstring_view text) { return WideToMultiByte(text, 0); }
inline std::wstring AnsiToWide(std::string_view text) { return MultiByteToWide(text, 0); }

// Decimal digits of a number. std::to_wstring would bring mingw's C99 wide
// printf (12 KB) into the exe only for this.
std::wstring DecimalText(long long value);

// Bytes as lower-case hexadecimal digits (digests).
std::string LowerHex(const unsigned char* bytes, size_t size);

// Leading-number reads as the C runtime does them: blanks skipped, the
// longest numeric prefix used, 0 when there is none. Integers outside the
// int range saturate.
int ParseLeadingInt(const std::wstring& text);
double ParseLeadingDouble(const std::wstring& text);

}  // namespace Utils
