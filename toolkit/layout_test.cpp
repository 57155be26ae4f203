#include <gtest/gtest.h>

#include "toolkit/archive.h"
#include "toolkit/builder.h"
#include "toolkit/controls.h"
#include "toolkit/dpi.h"
#include "toolkit/image.h"
#include "toolkit/manager.h"
#include "toolkit/test_support.h"

namespace skin {
namespace {

TEST(Layout, AxisSharesWhatFixedChildrenLeave) {
  struct Case {
    std::vector<AxisItem> items;
    int available;
    int childPadding;
    std::vector<int> sizes;
  } cases[] = {
      {{{45, 0, 0}, {0, 0, 0}}, 400, 0, {45, 355}},
      {{{0, 0, 0}, {200, 0, 0}, {0, 0, 0}}, 600, 0, {200, 200, 200}},
      {{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, 100, 0, {33, 33, 34}},  // the last takes the remainder
      {{{20, 5, 5}, {0, 0, 0}}, 100, 10, {20, 60}},               // paddings and child padding count
      {{{300, 0, 0}, {0, 0, 0}}, 100, 0, {300, 0}},               // no room left: stretch gets 0
  };
  for (const Case& c : cases) EXPECT_EQ(LayoutAxis(c.items, c.available, c.childPadding), c.sizes);
}

Control* BuildSkin(PaintManager& manager, const wchar_t* text) {
  Markup markup;
  if (!markup.Parse(text)) return nullptr;
  Control* root = BuildControls(*markup.Root(), manager, nullptr);
  manager.AttachRoot(root);
  return root;
}

TEST(Layout, BuildsAndPlacesTheTree) {
  PaintManager manager;  // no window: layout and painting still work
  ASSERT_NE(BuildSkin(manager,
                      LR"(
    <Window size="600,400" caption="0,0,0,35" roundcorner="1,0" showshadow="TRUE">
      <Font id="1" name="Arial" size="18"/>
      <Bogus><Button name="lost"/></Bogus>
      <VerticalLayout name="root" inset="10,10,10,10" childpadding="5">
        <HorizontalLayout name="title" height="45">
          <Control/>
          <Button name="close" width="24" height="24" padding="0,10,12,0"/>
        </HorizontalLayout>
        <TabLayout name="tabs" selectedid="1">
          <Label name="page0"/>
          <VerticalLayout name="page1"><Label name="float" pos="15,20,131,52"/></VerticalLayout>
        </TabLayout>
        <Progress name="bar" height="8" value="50" unknownattribute="x"/>
      </VerticalLayout>
    </Window>)"),
            nullptr);
  EXPECT_EQ(manager.InitSize().cx, 600);
  EXPECT_EQ(manager.CaptionRect().bottom, 35);
  EXPECT_EQ(*manager.GetWindowAttribute(L"showshadow"), L"TRUE");
  EXPECT_EQ(manager.FindControl(L"lost"), nullptr);  // unknown element skipped with its subtree

  test::Canvas canvas(600, 400);
  manager.Render(canvas.dc, RECT{0, 0, 600, 400}, RECT{0, 0, 600, 400});
  auto pos = [&](const wchar_t* name) { return manager.FindControl(name)->GetPos(); };
  EXPECT_EQ(pos(L"title").top, 10);
  EXPECT_EQ(pos(L"title").bottom, 55);
  EXPECT_EQ(pos(L"close").right, 590 - 12);
  EXPECT_EQ(pos(L"close").top, 20);
  EXPECT_EQ(pos(L"bar").bottom, 390);
  EXPECT_EQ(pos(L"bar").top, 382);
  EXPECT_EQ(pos(L"tabs").top, 60);
  EXPECT_EQ(pos(L"tabs").bottom, 377);
  EXPECT_EQ(pos(L"float").left, 10 + 15);
  EXPECT_EQ(pos(L"float").top, 60 + 20);
  auto* tabs = static_cast<TabLayout*>(manager.FindControl(L"tabs"));
  EXPECT_EQ(tabs->GetCurSel(), 1);
  EXPECT_FALSE(manager.FindControl(L"page0")->IsVisible());
  EXPECT_TRUE(manager.FindControl(L"float")->IsVisible());
  EXPECT_FALSE(tabs->SelectItem(2));
  ASSERT_TRUE(tabs->SelectItem(0, false));
  EXPECT_FALSE(manager.FindControl(L"float")->IsVisible());  // hidden with its page
}

TEST(Layout, EdgesAreScaledOneByOne) {
  struct Case {
    int value, dpi, scaled;
  } cases[] = {{0, 120, 0}, {33, 96, 33}, {33, 120, 41},   {66, 120, 83}, {100, 120, 125},
               {1, 144, 2}, {3, 144, 5},  {600, 144, 900}, {7, 192, 14},  {-5, 144, -8}};
  for (const Case& c : cases) {
    EXPECT_EQ(ScaleToDpi(c.value, c.dpi), c.scaled) << c.value << " at " << c.dpi;
    EXPECT_EQ(UnscaleFromDpi(c.scaled, c.dpi), c.value) << c.scaled << " at " << c.dpi;
  }
  EXPECT_EQ(UnscaleCeil(151, 144), 101);  // measured text: never less room than it needs
  EXPECT_EQ(UnscaleCeil(150, 144), 100);
}

// The layout runs in skin pixels at every DPI; only its edges are scaled, so
// neighbours still touch and nothing moves by more than the rounding.
TEST(Layout, AtAnyDpiTheSkinLayoutIsScaledEdgeByEdge) {
  const wchar_t* skin =
      LR"(<Window size="100,40"><Font id="0" name="Arial" size="18"/>
      <VerticalLayout inset="3,3,3,3"><HorizontalLayout name="row" height="20" childpadding="1">
        <Label name="a"/><Label name="b"/><Label name="c" textpadding="2,0,2,0"/></HorizontalLayout>
        <Label name="d"/></VerticalLayout></Window>)";
  PaintManager plain;
  ASSERT_NE(BuildSkin(plain, skin), nullptr);
  test::Canvas canvas96(100, 40);
  plain.Render(canvas96.dc, RECT{0, 0, 100, 40}, RECT{0, 0, 100, 40});
  for (int dpi : {120, 144, 192}) {
    PaintManager manager;
    manager.SetDpi(dpi);  // before the skin: its fonts are made at this DPI
    ASSERT_NE(BuildSkin(manager, skin), nullptr);
    const RECT client = {0, 0, ScaleToDpi(100, dpi), ScaleToDpi(40, dpi)};
    test::Canvas canvas(client.right, client.bottom);
    manager.Render(canvas.dc, client, client);
    for (const wchar_t* name : {L"row", L"a", L"b", L"c", L"d"}) {
      const Control* c = manager.FindControl(name);
      const RECT skinPos = plain.FindControl(name)->GetPos();
      EXPECT_TRUE(EqualRect(&c->GetLayoutPos(), &skinPos)) << name << " at " << dpi;
      const RECT want = ScaleToDpi(skinPos, dpi);
      EXPECT_TRUE(EqualRect(&c->GetPos(), &want)) << name << " at " << dpi;
    }
    // a | 1 | b | 1 | c: the gaps stay one scaled skin pixel, edges shared.
    EXPECT_EQ(manager.FindControl(L"b")->GetPos().left - manager.FindControl(L"a")->GetPos().right,
              ScaleToDpi(manager.FindControl(L"a")->GetLayoutPos().right + 1, dpi) -
                  ScaleToDpi(manager.FindControl(L"a")->GetLayoutPos().right, dpi));
    EXPECT_EQ(manager.FindControl(L"row")->GetPos().bottom, manager.FindControl(L"d")->GetPos().top);
    LOGFONTW font = {};
    GetObjectW(manager.GetFont(0), sizeof(font), &font);
    EXPECT_EQ(font.lfHeight, -(18 * dpi / 96));  // rounded down: 22 at 120 DPI
    // Text measures in skin pixels, whatever the DPI: SetFixedWidth takes it.
    const int width96 = plain.MeasureTextWidth(canvas96.dc, L"OndraVelqor", 0, DT_LEFT);
    EXPECT_NEAR(manager.MeasureTextWidth(canvas.dc, L"OndraVelqor", 0, DT_LEFT), width96, width96 / 10) << dpi;
  }
}

TEST(Layout, AbsurdSizesAreClamped) {
  PaintManager manager;
  ASSERT_NE(BuildSkin(manager,
                      LR"(<Window size="-5,99999999"><HorizontalLayout>
      <Label name="a" width="2147483647" padding="-99999,0,99999,0"/><Label name="b" width="-20"/>
    </HorizontalLayout></Window>)"),
            nullptr);
  EXPECT_EQ(manager.InitSize().cx, 0);
  EXPECT_LE(manager.InitSize().cy, 10000);
  test::Canvas canvas(50, 50);
  manager.Render(canvas.dc, RECT{0, 0, 50, 50}, RECT{0, 0, 50, 50});
  EXPECT_LE(manager.FindControl(L"a")->GetFixedWidth(), 10000);
  EXPECT_EQ(manager.FindControl(L"b")->GetFixedWidth(), 0);
}

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = test::ReadFileBytes(test::Widen(OV_FIXTURE_ARCHIVE));
    SetArchiveKind7z(true);
    ASSERT_TRUE(OpenRegisteredArchive(bytes_.data(), bytes_.size()));
  }
  void TearDown() override { CloseRegisteredArchive(); }
  std::string bytes_;
};

TEST_F(ImageTest, PngDecodesToPremultipliedPixels) {
  const Image* image = GetImage(L"res\\sub\\pixel.png");
  ASSERT_NE(image, nullptr) << "WIC could not decode the PNG";
  EXPECT_EQ(image->width, 2);
  EXPECT_EQ(image->height, 1);
  const uint32_t red = image->bits[0];
  EXPECT_EQ(red >> 24, 128u);
  EXPECT_NEAR(static_cast<int>((red >> 16) & 0xFF), 128, 1);  // 255 * 128 / 255
  EXPECT_EQ(red & 0xFFFF, 0u);
  EXPECT_EQ(image->bits[1], 0xFF0000FFu);
  EXPECT_EQ(GetImage(L"res/missing.png"), nullptr);
  EXPECT_EQ(DecodeImage("not a png"), nullptr);
}

TEST_F(ImageTest, NineGridKeepsCornersAndCanLeaveTheMiddleOut) {
  const Image* grid = GetImage(L"res/grid.png");
  ASSERT_NE(grid, nullptr);
  for (bool hole : {false, true}) {
    test::Canvas canvas(9, 9);
    DrawImage(canvas.dc, *grid, RECT{0, 0, 9, 9}, RECT{}, RECT{1, 1, 1, 1}, 255, hole);
    EXPECT_EQ(canvas.At(0, 0), 0xFFFF0000u);
    EXPECT_EQ(canvas.At(8, 8), 0xFFFF0000u);
    EXPECT_EQ(canvas.At(4, 0), 0xFF00FF00u);  // edges stretch along
    EXPECT_EQ(canvas.At(0, 4), 0xFF00FF00u);
    EXPECT_EQ(canvas.At(4, 4), hole ? 0u : 0xFF0000FFu);
  }
  test::Canvas clipped(20, 20);  // "dest" places the image inside the control
  EXPECT_TRUE(DrawImageSpec(clipped.dc, RECT{0, 0, 20, 20}, L"file='res/grid.png' dest='10,10,13,13'"));
  EXPECT_EQ(clipped.At(5, 5), 0u);
  EXPECT_EQ(clipped.At(11, 11), 0xFF0000FFu);
}

// Above 96 DPI the 2x art is drawn: as it is at 192, scaled down in between
// by a filter that weighs every source pixel (a nearest-neighbour pick would
// leave only black and white); without 2x art the 1x art is stretched.
TEST_F(ImageTest, HighDpiArtIsPickedAndFilteredDown) {
  const Image* one = GetImage(L"res/edge.png", 96);
  const Image* two = GetImage(L"res/edge.png", 192);
  const Image* between = GetImage(L"res\\Edge.png", 144);
  ASSERT_TRUE(one && two && between);
  EXPECT_EQ(one->width, 4);
  EXPECT_EQ(two->width, 8);
  EXPECT_EQ(two->dpi, 192);
  EXPECT_EQ(GetImage(L"res/edge.png", 288), two);
  ASSERT_EQ(between->width, 6);
  EXPECT_EQ(between->height, 2);
  EXPECT_EQ(between->dpi, 144);
  EXPECT_EQ(GetImage(L"res/edge.png", 144), between);  // made once per DPI
  // Source pixels 0-1.33 white, 1.33-2.67 white, 2.67-4: a third white, then black.
  const auto grey = [&](int x) { return static_cast<int>(between->bits[x] & 0xFF); };
  EXPECT_EQ(grey(0), 255);
  EXPECT_EQ(grey(1), 255);
  EXPECT_NEAR(grey(2), 64, 12);
  EXPECT_EQ(grey(3), 0);
  EXPECT_EQ(between->bits[5] >> 24, 255u);
  EXPECT_EQ(GetImage(L"res/grid.png", 144), GetImage(L"res/grid.png"));  // no 2x art
  // A control of 4 x 1 skin pixels at 144 DPI: 6 x 2 device pixels, 1:1 from
  // the filtered art.
  test::Canvas canvas(6, 2);
  EXPECT_TRUE(DrawImageSpec(canvas.dc, RECT{0, 0, 6, 2}, L"res/edge.png", 144));
  for (int x = 0; x < 6; ++x) EXPECT_EQ(canvas.At(x, 1), between->bits[x]) << x;
}

}  // namespace
}  // namespace skin
