// Stands in for a DLL that someone drops beside a program under a system
// DLL's name. It exports nothing; loaded, it leaves "<its path>.loaded"
// beside itself, so a test can tell that a program picked it up.
#include <windows.h>

#include "platform/handles.h"

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH + 8] = {};
  const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcatW(path, L".loaded");
  const Utils::UniqueHandle marker(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  return TRUE;
}
