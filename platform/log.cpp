#include "platform/log.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>

// mingw's C++ mode routes the plain wide printf family to its C99
// implementation, where %s means a narrow string. The underscore entry points
// below stay the Microsoft runtime's, which keep the Windows convention (%s
// is wide) that every log format relies on; a test guards this.

namespace Utils {

void WriteLog(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  va_list counting;
  va_copy(counting, args);
  const int length = _vscwprintf(format, counting);
  va_end(counting);
  if (length >= 0) {
    const size_t size = static_cast<size_t>(length) + 2;
    auto* buffer = static_cast<wchar_t*>(std::calloc(size, sizeof(wchar_t)));
    if (buffer) {
      _vsnwprintf(buffer, size, format, args);
      OutputDebugStringW(buffer);
      std::free(buffer);
    }
  }
  va_end(args);
}

void QualifiedFunctionName(const char* signature, wchar_t* out, size_t outChars) {
  if (!out || outChars == 0) return;
  out[0] = L'\0';
  if (!signature) return;
  // The parameter list is the first "(" outside template brackets; the name
  // starts after the last blank before it, again outside template brackets
  // (a return type such as "std::map<int, int>" contains blanks).
  const char* end = nullptr;
  int depth = 0;
  for (const char* p = signature; *p; ++p) {
    if (*p == '<')
      ++depth;
    else if (*p == '>' && depth > 0)
      --depth;
    else if (*p == '(' && depth == 0) {
      end = p;
      break;
    }
  }
  if (!end) end = signature + std::strlen(signature);
  const char* begin = signature;
  depth = 0;
  for (const char* p = end; p > signature; --p) {
    const char c = p[-1];
    if (c == '>')
      ++depth;
    else if (c == '<' && depth > 0)
      --depth;
    else if ((c == ' ' || c == '*' || c == '&') && depth == 0) {
      begin = p;
      break;
    }
  }
  size_t n = 0;
  for (const char* p = begin; p < end && n + 1 < outChars; ++p) out[n++] = static_cast<unsigned char>(*p);
  out[n] = L'\0';
}

LogContext::LogContext(const char* signature, int line_)
    : pid(static_cast<int>(GetCurrentProcessId())), tid(static_cast<int>(GetCurrentThreadId())), line(line_) {
  GetLocalTime(&time);
  QualifiedFunctionName(signature, function, sizeof(function) / sizeof(function[0]));
}

}  // namespace Utils
