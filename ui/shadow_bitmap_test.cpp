#include "ui/shadow_bitmap.h"

#include <gtest/gtest.h>

#include "toolkit/gdi_handles.h"

namespace {

// The shipped skins: size 6, sharpness 10, darkness 20, position 1,1,
// colour #26003B76 (red 0x76, green 0x3B, blue 0).
ShadowParams Shipped() { return ShadowParams{6, 10, 20, 1, 1, 0x26003B76 & 0xFFFFFF}; }

unsigned Alpha(uint32_t pixel) { return pixel >> 24; }

TEST(ShadowBitmap, KernelFallsFromDarknessToOneAtItsRadius) {
  const ShadowParams p = Shipped();
  EXPECT_EQ(Alpha(ShadowKernel(p, 0, 0)), 20u);
  EXPECT_EQ(Alpha(ShadowKernel(p, 10, 0)), 1u);  // (1 - 10/11) * 20
  EXPECT_EQ(Alpha(ShadowKernel(p, 6, 8)), 1u);   // distance 10 too
  EXPECT_EQ(Alpha(ShadowKernel(p, 4, 0)), 12u);  // (1 - 4/11) * 20
  EXPECT_EQ(ShadowKernel(p, 8, 7), 0u);          // beyond K = 10
  EXPECT_EQ(ShadowKernel(p, -11, 0), 0u);
  // Premultiplied colour: 0x76 * 12 / 255 = 5, 0x3B * 12 / 255 = 2.
  EXPECT_EQ(ShadowKernel(p, 4, 0), 0x0C050200u);
  // Size beyond sharpness: a solid core of radius C = S - P.
  const ShadowParams wide = {15, 5, 100, 0, 0, 0};
  EXPECT_EQ(Alpha(ShadowKernel(wide, 9, 0)), 100u);
}

TEST(ShadowBitmap, ErosionShrinksSpansAndRowsByOnePerPass) {
  const ShadowSpan empty = {100, 0};
  std::vector<ShadowSpan> a(22, empty);
  for (int i = 1; i <= 20; ++i) a[static_cast<size_t>(i)] = ShadowSpan{6, 106};
  for (int pass = 0; pass < 4; ++pass) ErodeSpans(&a);  // P - S = 4 passes for the shipped skins
  for (int i = 1; i <= 4; ++i) EXPECT_GE(a[static_cast<size_t>(i)].start, a[static_cast<size_t>(i)].end) << i;
  EXPECT_EQ(a[5].start, 10);
  EXPECT_EQ(a[5].end, 102);
  EXPECT_EQ(a[16].end, 102);
  EXPECT_GE(a[17].start, a[17].end);
  EXPECT_GE(a[0].start, a[0].end);  // the borders stay empty
}

TEST(ShadowBitmap, ShippedSkinsShadowAroundARectangularWindow) {
  const int w = 100, h = 60;
  const std::vector<ShadowSpan> owner(h, ShadowSpan{0, w});
  const std::vector<uint32_t> px = ComputeShadowBitmap(Shipped(), w, h, owner);
  const int sw = w + 12, sh = h + 12;  // 12 pixels larger
  ASSERT_EQ(px.size(), static_cast<size_t>(sw * sh));
  auto at = [&](int x, int y) { return px[static_cast<size_t>(y * sw + x)]; };
  unsigned darkest = 0;
  for (uint32_t p : px) darkest = std::max(darkest, Alpha(p));
  // The core (alpha 20) lies under the owner; what shows starts 4 pixels
  // from the eroded edge.
  EXPECT_EQ(darkest, 12u);
  // The owner sits 5 pixels in (shadow placed 5 up-left): all of it is cut out.
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(at(x + 5, y + 5), 0u) << x << "," << y;
  // To the right of the owner the shadow fades from 12 to 1.
  const int row = 5 + h / 2;
  EXPECT_EQ(Alpha(at(105, row)), 12u);
  EXPECT_EQ(Alpha(at(111, row)), 1u);
  for (int x = 105; x < 111; ++x) EXPECT_GE(Alpha(at(x, row)), Alpha(at(x + 1, row)));
  // Below it likewise; the top-left corner pixel is outside the kernel.
  EXPECT_EQ(Alpha(at(5 + w / 2, 65)), 12u);
  EXPECT_EQ(at(0, 0), 0u);
}

TEST(ShadowBitmap, OwnerWithoutRegionGetsATransparentShadow) {
  const std::vector<ShadowSpan> none = OwnerSpans(nullptr, 80, 40);
  const std::vector<uint32_t> px = ComputeShadowBitmap(Shipped(), 80, 40, none);
  ASSERT_EQ(px.size(), static_cast<size_t>(92 * 52));
  for (uint32_t p : px) ASSERT_EQ(p, 0u);
}

TEST(ShadowBitmap, SpansFollowTheWindowRegion) {
  const std::vector<ShadowSpan> rows =
      OwnerSpans(skin::UniqueRegion(CreateRoundRectRgn(0, 0, 41, 31, 20, 20)).get(), 40, 30);
  EXPECT_GT(rows[0].start, 0);  // rounded top corners
  EXPECT_EQ(rows[15].start, 0);
  EXPECT_EQ(rows[15].end, 40);
  EXPECT_LT(rows[29].end, 40);
  const std::vector<uint32_t> px = ComputeShadowBitmap(ShadowParams{}, 0, 0, {});
  EXPECT_TRUE(px.empty());  // a window of no size has no shadow
}

}  // namespace
