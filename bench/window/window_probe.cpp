// window_probe: how quickly the installer window answers while it works.
// Sends WM_NULL to the "MainWnd" window every 50 ms (SendMessageTimeout,
// 5 s limit) until the window is gone or the time is up, and prints
// "probes=<n> worst-ms=<ms> median-ms=<ms>".
//   window_probe <seconds>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  const DWORD limitMs = static_cast<DWORD>(argc > 1 ? _wtoi(argv[1]) : 30) * 1000;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const DWORD start = GetTickCount();
  HWND window = nullptr;
  while (!window && GetTickCount() - start < limitMs) {
    window = FindWindowW(L"MainWnd", nullptr);
    if (!window) Sleep(20);
  }
  std::vector<double> delays;
  while (window && IsWindow(window) && GetTickCount() - start < limitMs) {
    LARGE_INTEGER t0, t1;
    DWORD_PTR result = 0;
    QueryPerformanceCounter(&t0);
    const LRESULT answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
    QueryPerformanceCounter(&t1);
    if (!answered && !IsWindow(window)) break;  // gone meanwhile: not a delay
    delays.push_back(static_cast<double>(t1.QuadPart - t0.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart));
    Sleep(50);
  }
  if (delays.empty()) {
    std::printf("probes=0 worst-ms=0 median-ms=0\n");
    return 1;
  }
  std::vector<double> sorted = delays;
  std::sort(sorted.begin(), sorted.end());
  std::printf("probes=%u worst-ms=%.1f median-ms=%.1f\n", static_cast<unsigned>(delays.size()), sorted.back(),
              sorted[sorted.size() / 2]);
  return 0;
}
