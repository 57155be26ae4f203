// The sample product that the substitute package installs as
// "OndraVelqor.exe": one window that runs until it is closed (WM_CLOSE, the
// close box, or the end of the session). "--hidden" keeps the window
// invisible for tests that only need a running product.
#include <windows.h>

#include <cwchar>

namespace {

constexpr wchar_t kClassName[] = L"OndraVelqorSampleProduct";

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int show) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassW(&windowClass)) return 1;
  HWND window = CreateWindowExW(0, kClassName, L"OndraVelqor", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, 480,
                                320, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  if (!std::wcsstr(commandLine, L"--hidden")) ShowWindow(window, show);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
