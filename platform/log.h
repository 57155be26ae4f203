// Diagnostic log: every statement writes one whole line to the debugger
// output (OutputDebugStringW). No file, no levels, no buffering.
//
//   OV_LOG(L"get_IsConnectedToInternet:%d", v);   // message form: the literal decides the ending
//   OV_LOGS(L"start download");                    // statement form: "\r\n" is appended
//
// Formats follow the Microsoft wide convention: %s takes a wide string.
// Formats must be literals; data (paths, URLs, library texts) goes through %s.
#pragma once

#include <windows.h>

namespace Utils {

// Formats the complete line (prefix format already joined with the message)
// and hands it to the debugger output in one call. A line that cannot be
// allocated is dropped.
void WriteLog(const wchar_t* format, ...);

// Turns a compiler signature such as "void Utils::Thread::CallBack(void*)"
// into the qualified name "Utils::Thread::CallBack".
void QualifiedFunctionName(const char* signature, wchar_t* out, size_t outChars);

// Captured when a statement begins, before its message arguments are evaluated.
struct LogContext {
  LogContext(const char* signature, int line);
  int pid;
  int tid;
  SYSTEMTIME time;
  int line;
  wchar_t function[128];
};

}  // namespace Utils

#define OV_LOG_PREFIX L"<P%05d><T%05d><%04d-%02d-%02d %02d:%02d:%02d.%03d>(%s)<%04d>: "

#define OV_LOG_WRITE_(fmt, ...)                                                                                     \
  do {                                                                                                              \
    const ::Utils::LogContext ovLogCtx_(__PRETTY_FUNCTION__, __LINE__);                                             \
    ::Utils::WriteLog(OV_LOG_PREFIX fmt, ovLogCtx_.pid, ovLogCtx_.tid, ovLogCtx_.time.wYear, ovLogCtx_.time.wMonth, \
                      ovLogCtx_.time.wDay, ovLogCtx_.time.wHour, ovLogCtx_.time.wMinute, ovLogCtx_.time.wSecond,    \
                      ovLogCtx_.time.wMilliseconds, ovLogCtx_.function, ovLogCtx_.line __VA_OPT__(, ) __VA_ARGS__); \
  } while (0)

// Message form: the format is appended unchanged.
#define OV_LOG(fmt, ...) OV_LOG_WRITE_(fmt __VA_OPT__(, ) __VA_ARGS__)
// Statement form: "\r\n" follows the message.
#define OV_LOGS(fmt, ...) OV_LOG_WRITE_(fmt L"\r\n" __VA_OPT__(, ) __VA_ARGS__)
