// Helpers shared by the toolkit's tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/gdi_handles.h"

namespace skin::test {

// Whole file, or empty.
inline std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  const Utils::UniqueHandle f(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!f) return bytes;
  LARGE_INTEGER size = {};
  GetFileSizeEx(f.get(), &size);
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!ReadFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) bytes.clear();
  return bytes;
}

// Dispatches the thread's messages for about `ms` milliseconds.
inline void Pump(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  MSG msg;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  }
}

inline std::wstring Widen(const char* s) { return std::wstring(s, s + strlen(s)); }

// A 32-bit top-down memory canvas, cleared to 0.
struct Canvas {
  Canvas(int w, int h) : width(w), height(h) {
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(bi.bmiHeader), w, -h, 1, 32, BI_RGB};
    void* p = nullptr;
    memory.reset(CreateCompatibleDC(nullptr));
    dc = memory.get();
    bitmap.reset(CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &p, nullptr, 0));
    old = SelectObject(dc, bitmap.get());
    bits = static_cast<uint32_t*>(p);
    std::fill(bits, bits + w * h, 0u);
  }
  ~Canvas() { SelectObject(dc, old); }
  uint32_t At(int x, int y) const { return bits[y * width + x]; }
  int width, height;
  UniqueMemoryDc memory;
  HDC dc;
  UniqueBitmap bitmap;
  HGDIOBJ old;
  uint32_t* bits;
};

}  // namespace skin::test
