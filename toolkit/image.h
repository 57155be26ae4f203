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
  int dpi = 96;  // the screen DPI its pixels are made for: 96 for 1x art, 192 for 2x
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
// Above 96 DPI the 2x art ("logo@2x.png" beside "logo.png") is taken where it
// exists: as it is at 192 DPI and above, scaled down to the DPI in between
// (ScaleImage); 1x art is never scaled up here.
const Image* GetImage(std::wstring_view path, int dpi = 96);

// The name of the 2x art of `path`: "@2x" before the extension.
std::wstring HighDpiName(std::wstring_view path);

// `image` resampled to width x height for a screen of `dpi` (a box filter:
// every source pixel counts by the area it covers). Null when the size is
// empty or absurd.
std::unique_ptr<Image> ScaleImage(const Image& image, int width, int height, int dpi);

// Draws part `source` (empty = whole image) of `image` into `dest` (device
// pixels), with the nine-grid borders `corner` kept at their size, the middle
// left out when `hole`, at constant opacity `alpha`. `source` and `corner` are
// in skin pixels: scaled by the image's DPI on the image's side and by `dpi`
// on the screen's.
void DrawImage(HDC dc, const Image& image, const RECT& dest, RECT source, const RECT& corner, BYTE alpha, bool hole,
               int dpi = 96);

// Draws an image reference of a control (see ParseImageSpec) into the
// control rectangle `box` (device pixels) of a window at `dpi`. False when
// the image is missing.
bool DrawImageSpec(HDC dc, const RECT& box, std::wstring_view desc, int dpi = 96);

// Fills a rectangle with an ARGB colour, blending when it is translucent.
void FillColor(HDC dc, const RECT& rect, uint32_t argb);

}  // namespace skin
