// The benchmark's reference: a plain Win32 window that paints one frame
// (a filled background and a line of text) and ends.
#include <windows.h>

#include <cstdio>

namespace {

unsigned long long EpochMs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - 116444736000000000ULL) / 10000;
}

unsigned long long g_mainMs = 0;

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    TextOutW(dc, 20, 20, L"OndraVelqor", 11);
    EndPaint(window, &ps);
    // The painted moment on the host's clock (the benchmark times the launch),
    // and the entry's, which splits Wine's process start from the window's.
    printf("first-paint-epoch-ms=%llu\n", EpochMs());
    printf("startup-mark main %llu\n", g_mainMs);
    fflush(stdout);
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  g_mainMs = EpochMs();
  WNDCLASSW wc = {};
  wc.lpfnWndProc = Proc;
  wc.hInstance = instance;
  wc.lpszClassName = L"MinimalWindow";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, L"MinimalWindow", L"minimal", WS_POPUP | WS_VISIBLE, 100, 100, 360, 180, nullptr,
                                nullptr, instance, nullptr);
  if (!window) return 1;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
