// Screen scale. Skins are written in 96-DPI pixels ("skin pixels"); a window
// on a screen of another DPI draws everything DPI / 96 times larger. Layout
// runs in skin pixels and only its results, the edges of each rectangle, are
// mapped to device pixels, each edge by itself: two controls that touch in
// the skin touch on the screen, and at 96 DPI nothing changes at all.
#pragma once

#include <windows.h>

namespace skin {

inline constexpr int kBaseDpi = 96;

// A skin coordinate or length at `dpi`, rounded to the nearest pixel (halves
// away from zero, as MulDiv does: the same rule for every edge).
int ScaleToDpi(int value, int dpi);
RECT ScaleToDpi(const RECT& rect, int dpi);
// Device pixels back to skin pixels, rounded the same way.
int UnscaleFromDpi(int value, int dpi);
// Device pixels back to skin pixels, rounded up: a measured text then never
// gets less room than it needs.
int UnscaleCeil(int value, int dpi);

// The DPI `window` draws at: GetDpiForWindow where the system has it
// (Windows 10 1607 and later: the window's own monitor under per-monitor
// awareness), else the screen's LOGPIXELSX (the system DPI, Windows 7 and 8).
// 96 for a null window on a system without either.
int WindowDpi(HWND window);

}  // namespace skin
