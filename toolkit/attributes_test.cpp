#include "toolkit/attributes.h"

#include <gtest/gtest.h>

namespace skin {
namespace {

TEST(Attributes, NumbersRectsAndSizes) {
  struct Case {
    const wchar_t* text;
    int value;
  } ints[] = {{L"25", 25}, {L"25abc", 25}, {L"abc", 0}, {L"", 0}, {L"-7", -7}, {L"99999999999999", 2147483647}};
  for (const Case& c : ints) EXPECT_EQ(ParseInt(c.text), c.value) << c.text;

  const RECT r = ParseRect(L"84,2,100,18");
  EXPECT_EQ(r.left, 84);
  EXPECT_EQ(r.top, 2);
  EXPECT_EQ(r.right, 100);
  EXPECT_EQ(r.bottom, 18);
  const RECT partial = ParseRect(L"9,0");  // missing numbers stay 0
  EXPECT_EQ(partial.left, 9);
  EXPECT_EQ(partial.bottom, 0);
  EXPECT_EQ(ParseSize(L"600,400").cx, 600);
  EXPECT_EQ(ParseSize(L"600,400").cy, 400);
}

TEST(Attributes, Colors) {
  struct Case {
    const wchar_t* text;
    bool ok;
    uint32_t argb;
  } cases[] = {
      {L"#FF8991AF", true, 0xFF8991AF},
      {L"0xFF687FF5", true, 0xFF687FF5},
      {L"#1890FF", true, 0xFF1890FF},
      {L"26003B76", true, 0x26003B76},
      {L"#", false, 0},
      {L"zz", false, 0},
  };
  for (const Case& c : cases) {
    uint32_t argb = 0;
    EXPECT_EQ(ParseColor(c.text, &argb), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(argb, c.argb) << c.text;
    }
  }
}

TEST(Attributes, BoolsAndAlignment) {
  EXPECT_TRUE(ParseBool(L"true"));
  EXPECT_TRUE(ParseBool(L"TRUE"));
  EXPECT_FALSE(ParseBool(L"yes"));
  const UINT style = ParseAlign(L"right", DT_LEFT | DT_VCENTER | DT_SINGLELINE);
  EXPECT_EQ(style & (DT_LEFT | DT_CENTER | DT_RIGHT), static_cast<UINT>(DT_RIGHT));
  const UINT wrapped = ParseAlign(L"center,wrap", DT_SINGLELINE);
  EXPECT_TRUE(wrapped & DT_CENTER);
  EXPECT_TRUE(wrapped & DT_WORDBREAK);
  EXPECT_FALSE(wrapped & DT_SINGLELINE);
}

TEST(Attributes, ImageSpecs) {
  const ImageSpec bare = ParseImageSpec(L"res\\mainWnd\\logo.png");
  EXPECT_EQ(bare.file, L"res\\mainWnd\\logo.png");
  EXPECT_EQ(bare.fade, 255);

  const ImageSpec full =
      ParseImageSpec(L"file='res\\common\\minbtn1.png' corner='2,2,2,2' dest='84,2,100,18' fade='110' hole='true'");
  EXPECT_EQ(full.file, L"res\\common\\minbtn1.png");
  EXPECT_EQ(full.corner.right, 2);
  EXPECT_EQ(full.dest.left, 84);
  EXPECT_EQ(full.dest.bottom, 18);
  EXPECT_EQ(full.fade, 110);
  EXPECT_TRUE(full.hole);

  EXPECT_EQ(ParseImageSpec(L"file=\"a.png\" fade='999'").fade, 255);  // clamped
  EXPECT_EQ(ParseImageSpec(L"file='a.png").file, L"");                // unterminated: nothing taken
}

}  // namespace
}  // namespace skin
