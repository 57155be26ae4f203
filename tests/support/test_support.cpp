#include "tests/support/test_support.h"

#include <aclapi.h>
#include <sddl.h>
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

bool RestrictToAdministrators(const std::wstring& folder) {
  Utils::UniqueLocalMemory<void> descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;GRGX;;;BU)", SDDL_REVISION_1, descriptor.put(), nullptr))
    return false;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted);
  GetSecurityDescriptorOwner(descriptor.get(), &owner, &defaulted);
  const DWORD set = SetNamedSecurityInfoW(
      const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, owner, nullptr,
      dacl, nullptr);
  if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) return set == ERROR_SUCCESS;
  // Wine 8 keeps no descriptor of a folder: it makes one up from the Unix
  // owner and mode, and answers success to the call above. A folder of
  // another Unix account with mode 0755 is what it shows as writable by its
  // owner alone, so hand the folder over with the host's chown (Wine starts
  // Unix programs too).
  char unix[MAX_PATH * 3] = {};
  using ToUnix = char*(CDECL*)(const wchar_t*);
  const auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return false;
  char* name = toUnix(folder.c_str());
  if (!name) return false;
  lstrcpynA(unix, name, sizeof(unix));
  HeapFree(GetProcessHeap(), 0, name);
  std::wstring command = L"/bin/chown -R nobody \"";
  for (const char* c = unix; *c; ++c) command += static_cast<wchar_t>(static_cast<unsigned char>(*c));
  command += L"\"";
  STARTUPINFOW si = {sizeof(si)};
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(L"Z:\\bin\\chown", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info))
    return false;
  const Utils::ProcessHandles child(info);
  // Wine does not wait on a Unix child: watch the owner change instead.
  for (int tries = 0; tries < 100; ++tries) {
    BYTE buffer[512] = {};
    DWORD size = 0;
    PSID folderOwner = nullptr;
    BOOL defaultedOwner = FALSE;
    if (GetFileSecurityW(folder.c_str(), OWNER_SECURITY_INFORMATION, buffer, sizeof(buffer), &size) &&
        GetSecurityDescriptorOwner(buffer, &folderOwner, &defaultedOwner) && folderOwner &&
        IsWellKnownSid(folderOwner, WinAnonymousSid))
      return true;
    Sleep(100);
  }
  return false;
}

}  // namespace test_support
