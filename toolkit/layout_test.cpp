#include <gtest/gtest.h>

#include "toolkit/archive.h"
#include "toolkit/builder.h"
#include "toolkit/controls.h"
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

}  // namespace
}  // namespace skin
