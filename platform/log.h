// Diagnostic log: every statement writes one whole line to the debugger
// output (OutputDebugStringW) and, once the installer has opened one, the
// same line in UTF-8 to the log file. No levels, no buffering.
//
//   OV_LOG(L"get_IsConnectedToInternet:%d", v);   // message form: the literal decides the ending
//   OV_LOGS(L"start download");                    // statement form: "\r\n" is appended
//
// Formats follow the Microsoft wide convention: %s takes a wide string.
// Formats must be literals; data (paths, URLs, library texts) goes through %s.
#pragma once

#include <windows.h>

#include <string>

namespace Utils {

// Formats the complete line (prefix format already joined with the message)
// and hands it to the debugger output in one call. A line that cannot be
// allocated is dropped.
void WriteLog(const wchar_t* format, ...);

// The installer's log file: "%TEMP%\OndraVelqorSetup\setup.log".
std::wstring DefaultLogFilePath();

// From now on every line also goes to `path`, appended in one write each, so
// that a kill or a crash at any moment leaves whole lines. The previous
// run's file is kept as "<name>.1<ext>" (unless another process is still
// writing this one: then both append); a file grown past `limitBytes`
// becomes that too and a fresh one starts, so a runaway loop cannot fill the
// disk. A link or junction in place of the file or its folder is refused
// (the installer runs elevated; the temp folder is the user's). False when
// nothing could be opened; the debugger output goes on regardless.
bool OpenLogFile(const std::wstring& path, long limitBytes = 2 * 1024 * 1024);
// Stops writing to the log file (tests; the process's end closes it too).
void CloseLogFile();

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
