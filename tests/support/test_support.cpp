#include "tests/support/test_support.h"

#include <shellapi.h>

#include "platform/handles.h"

namespace test_support {

namespace {

BOOL CALLBACK CloseWindowOf(HWND window, LPARAM pid) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(pid) && IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
  return TRUE;
}

// Runs the command line to its end (at most timeoutMs), closing its windows
// meanwhile when asked; its exit code, or 12345 when it could not start.
DWORD Run(std::wstring commandLine, DWORD* pid, DWORD timeoutMs, bool closeWindows) {
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info))
    return 12345;
  const Utils::ProcessHandles child(info);
  if (pid) *pid = child.processId;
  const DWORD start = GetTickCount();
  const DWORD step = closeWindows ? 100 : timeoutMs;
  while (WaitForSingleObject(child.process.get(), step) == WAIT_TIMEOUT && GetTickCount() - start < timeoutMs)
    if (closeWindows) EnumWindows(CloseWindowOf, static_cast<LPARAM>(child.processId));
  DWORD code = 0;
  GetExitCodeProcess(child.process.get(), &code);
  return code;
}

}  // namespace

DWORD RunProcess(std::wstring commandLine, DWORD* pid, DWORD timeoutMs) {
  return Run(std::move(commandLine), pid, timeoutMs, false);
}

DWORD RunInstaller(std::wstring commandLine, DWORD* pid, DWORD timeoutMs) {
  return Run(std::move(commandLine), pid, timeoutMs, true);
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
