// The drop shadow's picture, computed from the owner window's outline:
// the outline's rows are eroded, a radial kernel is stamped along the
// eroded border (a blurred dilation), the inside is filled with the full
// darkness and the part under the owner is cut out. Pure computation.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

// One row of an outline: x from start to end, end exclusive. An empty row
// is (width, 0).
struct ShadowSpan {
  int start;
  int end;
};

struct ShadowParams {
  int size = 0;        // S: how far the shadow reaches past the owner
  int sharpness = 5;   // P
  int darkness = 150;  // D: alpha of the shadow's core
  int dx = 5;          // offsets of the shadow from the owner
  int dy = 5;
  uint32_t color = 0;  // bits 0-7 red, 8-15 green, 16-23 blue
};

// The owner's rows: for each row the first and one past the last x inside
// `region` (null: the owner has no region, every row is empty).
std::vector<ShadowSpan> OwnerSpans(HRGN region, int width, int height);

// The colour premultiplied with `alpha`, as a 0xAARRGGBB pixel value.
uint32_t ShadowPixel(uint32_t color, unsigned alpha);

// Kernel value at offset (u, v) from its centre.
uint32_t ShadowKernel(const ShadowParams& p, int u, int v);

// One erosion pass over entries 1 .. N of `spans` (entries 0 and N + 1 are
// the fixed empty borders).
void ErodeSpans(std::vector<ShadowSpan>* spans);

// The whole picture, top-down, (W + 2S) x (H + 2S) pixels, for an owner of
// W x H pixels whose rows are `owner` (H entries).
std::vector<uint32_t> ComputeShadowBitmap(const ShadowParams& p, int width, int height,
                                          const std::vector<ShadowSpan>& owner);
