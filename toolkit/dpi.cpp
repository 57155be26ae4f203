#include "toolkit/dpi.h"

#include <algorithm>

#include "toolkit/gdi_handles.h"

namespace skin {

int ScaleToDpi(int value, int dpi) { return dpi == kBaseDpi ? value : MulDiv(value, dpi, kBaseDpi); }

RECT ScaleToDpi(const RECT& r, int dpi) {
  return RECT{ScaleToDpi(r.left, dpi), ScaleToDpi(r.top, dpi), ScaleToDpi(r.right, dpi), ScaleToDpi(r.bottom, dpi)};
}

int UnscaleFromDpi(int value, int dpi) { return dpi == kBaseDpi || dpi <= 0 ? value : MulDiv(value, kBaseDpi, dpi); }

int UnscaleCeil(int value, int dpi) {
  if (dpi == kBaseDpi || dpi <= 0 || value <= 0) return value;
  return static_cast<int>((static_cast<long long>(value) * kBaseDpi + dpi - 1) / dpi);
}

int WindowDpi(HWND window) {
  // user32 is loaded by every GUI program; GetDpiForWindow is looked up, not
  // imported, because Windows 7 and 8 lack it (the exe must start there).
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const GetDpiForWindowFn getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow && window) {
    if (const UINT dpi = getDpiForWindow(window)) return static_cast<int>(dpi);
  }
  const UniqueWindowDc screen = GetWindowDc(nullptr);
  const int dpi = screen.get().dc ? GetDeviceCaps(screen.get().dc, LOGPIXELSX) : 0;
  return dpi > 0 ? std::clamp(dpi, kBaseDpi / 2, kBaseDpi * 8) : kBaseDpi;
}

}  // namespace skin
