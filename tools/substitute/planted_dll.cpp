// The DLL a local attacker plants beside the package as version.dll: loaded
// in place of the system's, it creates the file named by OV_ATTACK_MARKER
// (the attacker's code ran in the package's process). It exports what the
// substitute imports from version.dll, so the package would start with it.
#include <windows.h>

#include "platform/handles.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  wchar_t marker[MAX_PATH] = {};
  if (reason == DLL_PROCESS_ATTACH && GetEnvironmentVariableW(L"OV_ATTACK_MARKER", marker, MAX_PATH) && marker[0]) {
    Utils::UniqueHandle(CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD handle) {
  if (handle) *handle = 0;
  SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
  return 0;
}
