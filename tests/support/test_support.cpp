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

void RemoveTree(const std::wstring& path) {
  std::wstring from = path + L'\0';  // the list ends with two nulls
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NO_UI;
  SHFileOperationW(&op);
}

}  // namespace test_support
