#include "install/failure_reasons.h"

#include <windows.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include "platform/strings.h"

namespace {

// "%.2f"; the rest of the texts is plain concatenation, so the report's
// message is never read as a format. The C runtime's printf, not mingw's C99
// one (27 KB of the exe): the same digits for any size a download has. It
// leaves a text that does not fit unterminated, hence the zeroed buffer.
std::wstring TwoDecimals(double value) {
  char digits[64] = {};
  _snprintf(digits, sizeof(digits) - 1, "%.2f", value);
  return std::wstring(digits, digits + std::strlen(digits));
}

// Keeps at most `chars` characters of text without ending on the first half
// of a surrogate pair.
std::wstring CutAt(const std::wstring& text, size_t chars) {
  if (text.size() <= chars) return text;
  if (chars > 0 && IS_HIGH_SURROGATE(text[chars - 1])) --chars;
  return text.substr(0, chars);
}

// Formats with the message; when the result is too long, formats again with
// the message shortened by the excess (and marked with "…").
std::wstring Fit(const std::wstring& message, const std::function<std::wstring(const std::wstring&)>& format) {
  std::wstring text = format(message);
  if (text.size() <= kMaxReasonChars) return text;
  const size_t excess = text.size() - kMaxReasonChars + 1;  // + 1 for the mark
  const std::wstring shortened = CutAt(message, message.size() > excess ? message.size() - excess : 0) + L"…";
  // The fixed parts alone never reach the limit; cut anyway rather than overflow.
  return CutAt(format(shortened), kMaxReasonChars);
}

}  // namespace

long ReasonCode(double number) {
  if (std::isnan(number)) return 0;
  if (number >= static_cast<double>(LONG_MAX)) return LONG_MAX;
  if (number <= static_cast<double>(LONG_MIN)) return LONG_MIN;
  return static_cast<long>(number);  // toward zero
}

std::wstring DownloadFailureReason(double number, const std::wstring& message, double freeGiB, bool writable,
                                   uint32_t networkCode) {
  return Fit(message, [&](const std::wstring& msg) {
    return L"1.code=" + Utils::DecimalText(ReasonCode(number)) + L"；2.msg=" + msg + L"；3.缓存磁盘容量=" +
           TwoDecimals(freeGiB) + L"G；4.缓存读写权限=" + (writable ? L"可读" : L"无权限") +
           L"；5.服务器连接状态code=" + Utils::DecimalText(static_cast<int>(networkCode));
  });
}

std::wstring FailureReason(double number, const std::wstring& message) {
  return Fit(message, [&](const std::wstring& msg) {
    return L":1.code=" + Utils::DecimalText(ReasonCode(number)) + L"；2.msg=" + msg;
  });
}
