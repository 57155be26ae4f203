// Helpers shared by the toolkit's tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace skin::test {

// Whole file, or empty.
inline std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size = {};
  GetFileSizeEx(f, &size);
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!ReadFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) bytes.clear();
  CloseHandle(f);
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
    dc = CreateCompatibleDC(nullptr);
    bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    old = SelectObject(dc, bitmap);
    bits = static_cast<uint32_t*>(p);
    std::fill(bits, bits + w * h, 0u);
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  uint32_t At(int x, int y) const { return bits[y * width + x]; }
  int width, height;
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
  uint32_t* bits;
};

}  // namespace skin::test
