#include "tests/support/test_support.h"

#include <shellapi.h>

namespace test_support {

DWORD RunProcess(std::wstring commandLine, DWORD* pid, DWORD timeoutMs) {
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 12345;
  if (pid) *pid = pi.dwProcessId;
  WaitForSingleObject(pi.hProcess, timeoutMs);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

namespace {

BOOL CALLBACK CloseWindowOf(HWND window, LPARAM pid) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(pid) && IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

}  // namespace

DWORD RunInstaller(std::wstring commandLine, DWORD* pid, DWORD timeoutMs) {
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return 12345;
  if (pid) *pid = pi.dwProcessId;
  const DWORD start = GetTickCount();
  while (WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT && GetTickCount() - start < timeoutMs)
    EnumWindows(CloseWindowOf, static_cast<LPARAM>(pi.dwProcessId));
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

void RemoveTree(const std::wstring& path) {
  std::wstring from = path + L'\0';  // the list ends with two nulls
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NO_UI;
  SHFileOperationW(&op);
}

}  // namespace test_support
