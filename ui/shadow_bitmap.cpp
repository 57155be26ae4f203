#include "ui/shadow_bitmap.h"

#include <algorithm>
#include <cmath>

std::vector<ShadowSpan> OwnerSpans(HRGN region, int width, int height) {
  std::vector<ShadowSpan> rows(static_cast<size_t>(std::max(height, 0)), ShadowSpan{width, 0});
  if (!region) return rows;
  for (int r = 0; r < height; ++r) {
    int start = 0;
    while (start < width && !PtInRegion(region, start, r)) ++start;
    if (start == width) continue;
    int last = width - 1;
    while (last > start && !PtInRegion(region, last, r)) --last;
    rows[static_cast<size_t>(r)] = ShadowSpan{start, last + 1};
  }
  return rows;
}

uint32_t ShadowPixel(uint32_t color, unsigned alpha) {
  const uint32_t red = (color & 0xFF) * alpha / 255;
  const uint32_t green = ((color >> 8) & 0xFF) * alpha / 255;
  const uint32_t blue = ((color >> 16) & 0xFF) * alpha / 255;
  return alpha << 24 | red << 16 | green << 8 | blue;
}

uint32_t ShadowKernel(const ShadowParams& p, int u, int v) {
  const int k = std::max(p.sharpness, p.size);
  const int c = p.size > p.sharpness ? p.size - p.sharpness : 0;
  const double d = std::sqrt(static_cast<double>(u) * u + static_cast<double>(v) * v);
  if (d < c) return ShadowPixel(p.color, static_cast<unsigned>(p.darkness));
  if (d > k) return 0;
  const double a = (1.0 - (d - c) / (p.sharpness + 1)) * p.darkness;
  return ShadowPixel(p.color, a > 0 ? static_cast<unsigned>(a) : 0u);
}

void ErodeSpans(std::vector<ShadowSpan>* spans) {
  std::vector<ShadowSpan>& a = *spans;
  if (a.size() < 3) return;
  std::vector<ShadowSpan> next = a;
  for (size_t i = 1; i + 1 < a.size(); ++i) {
    next[i].start = 1 + std::max({a[i - 1].start, a[i].start, a[i + 1].start});
    next[i].end = std::min({a[i - 1].end, a[i].end, a[i + 1].end}) - 1;
  }
  a.swap(next);
}

std::vector<uint32_t> ComputeShadowBitmap(const ShadowParams& p, int width, int height,
                                          const std::vector<ShadowSpan>& owner) {
  const int s = p.size;
  const int sw = width + 2 * s, sh = height + 2 * s;
  if (sw <= 0 || sh <= 0 || width <= 0 || height <= 0) return {};
  std::vector<uint32_t> pixels(static_cast<size_t>(sw) * static_cast<size_t>(sh), 0);
  const ShadowSpan empty = {width, 0};
  const int n = std::max(height, sh);

  // Rows of the shadow's outline, in shadow coordinates, with one empty
  // border entry above and below.
  std::vector<ShadowSpan> a(static_cast<size_t>(n) + 2, empty);
  std::vector<ShadowSpan> o(static_cast<size_t>(height), empty);
  for (int r = 0; r < height && r < static_cast<int>(owner.size()); ++r) {
    const ShadowSpan row = owner[static_cast<size_t>(r)];
    if (row.start >= row.end) continue;
    o[static_cast<size_t>(r)] = row;
    a[static_cast<size_t>(r + 1 + std::max(s, 0))] = ShadowSpan{row.start + s, row.end + s};
  }
  for (int pass = 0; pass < p.sharpness - s; ++pass) ErodeSpans(&a);

  auto b = [&](int i) -> ShadowSpan {
    const int at = i + 1 + std::max(-s, 0);
    return at >= 0 && at < static_cast<int>(a.size()) ? a[static_cast<size_t>(at)] : empty;
  };
  auto fill = [&](int row, int from, int to, uint32_t value) {
    if (row < 0 || row >= sh) return;
    from = std::max(from, 0);
    to = std::min(to, sw);
    uint32_t* line = &pixels[static_cast<size_t>(row) * static_cast<size_t>(sw)];
    for (int x = from; x < to; ++x) line[x] = value;
  };

  // The kernel, computed once.
  const int k = std::max(p.sharpness, p.size);
  const int side = 2 * k + 1;
  std::vector<uint32_t> kernel(static_cast<size_t>(side) * static_cast<size_t>(side));
  for (int v = -k; v <= k; ++v)
    for (int u = -k; u <= k; ++u) kernel[static_cast<size_t>((v + k) * side + (u + k))] = ShadowKernel(p, u, v);
  auto stamp = [&](int cx, int cy) {
    for (int v = -k; v <= k; ++v) {
      const int y = cy + v;
      if (y < 0 || y >= sh) continue;
      for (int u = -k; u <= k; ++u) {
        const int x = cx + u;
        if (x < 0 || x >= sw) continue;
        uint32_t& px = pixels[static_cast<size_t>(y) * static_cast<size_t>(sw) + static_cast<size_t>(x)];
        px = std::max(px, kernel[static_cast<size_t>((v + k) * side + (u + k))]);
      }
    }
  };

  // Blurred border: stamp along the left and right edges of each row, as
  // far as the rows above and below do not cover.
  for (int i = k; i < sh - k; ++i) {
    const ShadowSpan row = b(i), up = b(i - 1), down = b(i + 1);
    if (row.start >= row.end) continue;
    int x = row.start;
    for (const int stop = std::min(std::max(up.start, down.start) + 1, row.end); x < stop; ++x) stamp(x, i);
    for (x = std::max(x, std::min(up.end, down.end) - 1); x < row.end; ++x) stamp(x, i);
  }

  // Fill with the core and cut out what lies under the owner.
  const uint32_t centre = ShadowPixel(p.color, static_cast<unsigned>(p.darkness));
  const int first = std::min(k, std::max(s - p.dy, 0));
  const int last = std::max(sh - k, std::min(height + s - p.dy, height + 2 * s));
  const int shift = s - p.dx;
  for (int i = std::max(first, 0); i < std::min(last, sh); ++i) {
    const ShadowSpan row = b(i);
    const int r = i - s + p.dy;
    if (r < 0 || r >= height) {
      fill(i, row.start, row.end, centre);
      continue;
    }
    const ShadowSpan own = o[static_cast<size_t>(r)];
    fill(i, row.start, std::min(own.start + shift, row.end), centre);
    fill(i, std::max(own.start + shift, 0), std::min(own.end + shift, sw), 0);
    fill(i, std::max(own.end + shift, row.start), row.end, centre);
  }
  return pixels;
}
