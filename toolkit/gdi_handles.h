// Owning types for GDI objects and device contexts (see platform/handles.h).
// An object selected into a DC must be deselected before its owner goes:
// the painting code restores the old selection, then the owner deletes.
#pragma once

#include <windows.h>

#include "platform/handles.h"

namespace skin {

template <typename T>
struct GdiObjectTraits {
  using Type = T;
  static bool IsEmpty(T value) { return value == nullptr; }
  static bool Release(T value) { return DeleteObject(value) != FALSE; }
};
template <typename T>
using UniqueGdiObject = Utils::Owned<GdiObjectTraits<T>>;
using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBitmap = UniqueGdiObject<HBITMAP>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;
using UniquePen = UniqueGdiObject<HPEN>;
using UniqueRegion = UniqueGdiObject<HRGN>;

// CreateCompatibleDC.
struct MemoryDcTraits {
  using Type = HDC;
  static bool IsEmpty(HDC value) { return value == nullptr; }
  static bool Release(HDC value) { return DeleteDC(value) != FALSE; }
};
using UniqueMemoryDc = Utils::Owned<MemoryDcTraits>;

// GetDC: given back to the window it came from.
struct WindowDc {
  HWND window = nullptr;
  HDC dc = nullptr;
};
struct WindowDcTraits {
  using Type = WindowDc;
  static bool IsEmpty(const WindowDc& value) { return value.dc == nullptr; }
  static bool Release(const WindowDc& value) { return ReleaseDC(value.window, value.dc) == 1; }
};
using UniqueWindowDc = Utils::Owned<WindowDcTraits>;

// The window's client DC (the screen's for a null window).
inline UniqueWindowDc GetWindowDc(HWND window) { return UniqueWindowDc(WindowDc{window, GetDC(window)}); }

}  // namespace skin
