// Images of the skin: PNG (or any format the Windows Imaging Component
// reads) decoded once into premultiplied 32-bit DIB sections, and drawn
// with per-pixel alpha, optionally as a nine-grid.
//
// Threads: the cache lives on the window thread; images stay loaded until
// the process ends (the whole skin is a few hundred kilobytes).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "toolkit/attributes.h"
#include "toolkit/gdi_handles.h"

namespace skin {

struct Image {
  UniqueBitmap bitmap;
  uint32_t* bits = nullptr;  // top-down, premultiplied B, G, R, A
  int width = 0;
  int height = 0;
  Image() = default;
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;
};

// Initialises COM for the window thread and creates the decoder factory
// now rather than at the first image.
void WarmUpImageDecoder();

// Decodes an encoded image from memory; null when WIC cannot read it or the
// picture is absurdly large.
std::unique_ptr<Image> DecodeImage(std::string_view bytes);

// An image named by a skin: from the registered skin archive, else from the
// resource folder on disk. Null when missing (the control draws without it).
const Image* GetImage(std::wstring_view path);

// Draws part `source` (empty = whole image) of `image` into `dest`, with the
// nine-grid borders `corner` kept at their size, the middle left out when
// `hole`, at constant opacity `alpha`.
void DrawImage(HDC dc, const Image& image, const RECT& dest, RECT source, const RECT& corner, BYTE alpha, bool hole);

// Draws an image reference of a control (see ParseImageSpec) into the
// control rectangle `box`. False when the image is missing.
bool DrawImageSpec(HDC dc, const RECT& box, std::wstring_view desc);

// Fills a rectangle with an ARGB colour, blending when it is translucent.
void FillColor(HDC dc, const RECT& rect, uint32_t argb);

}  // namespace skin
