#include "platform/log.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/paths.h"

// mingw's C++ mode routes the plain wide printf family to its C99
// implementation, where %s means a narrow string. The underscore entry points
// below stay the Microsoft runtime's, which keep the Windows convention (%s
// is wide) that every log format relies on; a test guards this.

namespace Utils {

namespace {

// The log file. One line is written at a time: appends from two threads
// at once can overwrite each other under Wine, which finds the end and then
// writes at it.
struct LogFileState {
  SRWLOCK lock = SRWLOCK_INIT;
  HANDLE file = nullptr;  // none
  // Arrays, not strings: no destructor runs while a late thread may log.
  wchar_t path[MAX_PATH + 1] = {};
  wchar_t previous[MAX_PATH + 4] = {};
  LONG size = 0;
  LONG limit = 0;
  volatile LONG open = 0;
};
// Constant-initialised: the installer opens its log file from a static
// initialiser that runs before dynamically initialised ones.
constinit LogFileState g_logFile;

// "dir\setup.log" -> "dir\setup.1.log"
std::wstring PreviousRunPath(const std::wstring& path) {
  const wchar_t* extension = PathFindExtensionW(path.c_str());
  const size_t at = static_cast<size_t>(extension - path.c_str());
  return path.substr(0, at) + L".1" + path.substr(at);
}

bool RenameOpenFile(HANDLE file, const std::wstring& to) {
  std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  to.copy(info->FileName, to.size());
  return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != 0;
}

// The file moves aside to `previous`, unless another process still has it
// open for writing (a second instance) or without sharing its deletion (a
// reader): denying writers to others fails then. A link planted at the name
// moves aside as the link itself.
bool SetAside(const wchar_t* path, const wchar_t* previous) {
  const HANDLE file =
      CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool renamed = RenameOpenFile(file, previous);
  CloseHandle(file);
  return renamed;
}

// Opened for appending only, never through a link: a hard link or a
// reparse point planted at the name would have the elevated installer write
// into a file of somebody else's choosing. Null when it cannot be.
HANDLE OpenForAppending(const wchar_t* path) {
  const HANDLE file = CreateFileW(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      info.nNumberOfLinks != 1) {
    CloseHandle(file);
    return nullptr;
  }
  return file;
}

void AppendToLogFile(const wchar_t* line) {
  if (!InterlockedCompareExchange(&g_logFile.open, 0, 0)) return;
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr) - 1;
  if (bytes <= 0) return;
  auto* text = static_cast<char*>(std::malloc(static_cast<size_t>(bytes) + 1));
  if (!text) return;
  WideCharToMultiByte(CP_UTF8, 0, line, -1, text, bytes + 1, nullptr, nullptr);
  AcquireSRWLockExclusive(&g_logFile.lock);
  if (g_logFile.file) {
    DWORD written = 0;
    WriteFile(g_logFile.file, text, static_cast<DWORD>(bytes), &written, nullptr);
    g_logFile.size += bytes;
    if (g_logFile.size > g_logFile.limit) {
      // Full: a fresh file, this one kept as the previous. Where it cannot
      // move (another writer, a reader that denies it), the file ends here:
      // the bound holds either way.
      CloseHandle(g_logFile.file);
      g_logFile.file = SetAside(g_logFile.path, g_logFile.previous) ? OpenForAppending(g_logFile.path) : nullptr;
      g_logFile.size = 0;
    }
  }
  ReleaseSRWLockExclusive(&g_logFile.lock);
  std::free(text);
}

}  // namespace

std::wstring DefaultLogFilePath() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return {};
  return std::wstring(temp) + L"OndraVelqorSetup\\setup.log";
}

bool OpenLogFile(const std::wstring& path, long limitBytes) {
  CloseLogFile();
  if (path.empty() || path.size() > MAX_PATH) return false;
  wchar_t folder[MAX_PATH + 1] = {};
  path.copy(folder, MAX_PATH);
  PathRemoveFileSpecW(folder);
  if (folder[0]) {
    if (!CreateDirectories(folder)) return false;
    const DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  }
  const std::wstring previous = PreviousRunPath(path);
  SetAside(path.c_str(), previous.c_str());
  const HANDLE file = OpenForAppending(path.c_str());
  if (!file) return false;
  LARGE_INTEGER size = {};
  GetFileSizeEx(file, &size);
  AcquireSRWLockExclusive(&g_logFile.lock);
  g_logFile.file = file;
  path.copy(g_logFile.path, MAX_PATH);
  g_logFile.path[path.size()] = L'\0';
  previous.copy(g_logFile.previous, MAX_PATH + 3);
  g_logFile.previous[std::min<size_t>(previous.size(), MAX_PATH + 3)] = L'\0';
  g_logFile.size = static_cast<LONG>(std::min<LONGLONG>(size.QuadPart, 0x7fffffff));
  g_logFile.limit = limitBytes;
  InterlockedExchange(&g_logFile.open, 1);
  ReleaseSRWLockExclusive(&g_logFile.lock);
  return true;
}

void CloseLogFile() {
  AcquireSRWLockExclusive(&g_logFile.lock);
  InterlockedExchange(&g_logFile.open, 0);
  if (g_logFile.file) CloseHandle(g_logFile.file);
  g_logFile.file = nullptr;
  ReleaseSRWLockExclusive(&g_logFile.lock);
}

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
      AppendToLogFile(buffer);
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
