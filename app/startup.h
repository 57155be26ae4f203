// Start-up and shutdown of the installer process, on its first thread.
#pragma once

#include <windows.h>

#include "platform/handles.h"

// Restricts the DLL search path and preloads the system DLLs the program
// and its libraries use, by full path, so none is taken from the exe's folder.
void PreloadSystemLibraries();

// Crash filter: reports the crash, then lets the system's handling go on.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info);

// "D1A547DB89C0BC61_Installer_Velqor": one installer per logon session.
class SingleInstanceGuard {
 public:
  SingleInstanceGuard() = default;
  ~SingleInstanceGuard();
  SingleInstanceGuard(const SingleInstanceGuard&) = delete;
  SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

  void Acquire();  // leaves handle() null when another process holds it
  void Release();
  HANDLE handle() const { return handle_.get(); }
  static const wchar_t* MutexName();

 private:
  Utils::UniqueHandle handle_;
};

// The whole run: returns the process exit code (install/exit_code.h).
int RunInstaller(HINSTANCE instance);
