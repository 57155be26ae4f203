// Test program: floods the log file from four threads until it is killed.
//   log_flood.exe <log file> <limit in bytes>
// Each line says "flood <thread> <n>" with n counting up per thread, so a
// reader can tell a torn, lost or reordered line.
#include <windows.h>

#include <cwchar>
#include <cstdlib>

#include "platform/log.h"

namespace {

DWORD WINAPI Flood(void* parameter) {
  const int thread = static_cast<int>(reinterpret_cast<INT_PTR>(parameter));
  for (int n = 0;; ++n) OV_LOGS(L"flood %d %d", thread, n);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3 || !Utils::OpenLogFile(argv[1], std::wcstol(argv[2], nullptr, 10))) return 2;
  for (INT_PTR thread = 1; thread < 4; ++thread)
    CreateThread(nullptr, 0, Flood, reinterpret_cast<void*>(thread), 0, nullptr);
  return static_cast<int>(Flood(nullptr));
}
