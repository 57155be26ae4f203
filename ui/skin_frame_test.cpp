// The framed window and its shadow, in real windows.
#include "ui/skin_frame.h"

#include <gtest/gtest.h>

#include "platform/handles.h"
#include "platform/strings.h"
#include "toolkit/resources.h"
#include "ui/sequence_controls.h"
#include "ui/ui_test_support.h"

namespace {

using ui_test::Pump;

class Frame : public CSkinFrame {
 public:
  using CSkinFrame::CSkinFrame;
  HWND Open(DWORD style = 0x10CF0000) { return Create(nullptr, L"frame test", style, 0); }

 protected:
  skin::Control* CreateControl(const wchar_t* className) override { return CreateSequenceControl(className); }
};

class SkinFrameTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { PrepareSkinToolkit(GetModuleHandleW(nullptr)); }
};

TEST_F(SkinFrameTest, ShippedShadowIsTwelvePixelsLargerAndFiveUpLeft) {
  Frame frame(SkinDescriptor::ForFile(L"MessageBox1Wnd.xml"));
  HWND h = frame.Open();
  ASSERT_NE(h, nullptr);
  Pump(50);
  const LONG style = GetWindowLongW(h, GWL_STYLE);
  EXPECT_FALSE(style & WS_CAPTION);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  HWND s = frame.shadow().window();
  ASSERT_TRUE(IsWindow(s));
  EXPECT_TRUE(GetWindowLongW(s, GWL_EXSTYLE) & WS_EX_TRANSPARENT);  // clicks go through
  EXPECT_EQ(GetWindow(s, GW_OWNER), h);
  const ShadowParams p = frame.shadow().params();
  EXPECT_EQ(p.size, 6);
  EXPECT_EQ(p.sharpness, 10);
  EXPECT_EQ(p.darkness, 20);
  EXPECT_EQ(p.dx, 1);
  EXPECT_EQ(p.color, 0x003B76u);  // "#26003B76": red 0x76, green 0x3B, blue 0
  auto expectAround = [&](int larger, int upLeft) {
    RECT o, r;
    GetWindowRect(h, &o);
    GetWindowRect(s, &r);
    EXPECT_EQ(r.right - r.left, o.right - o.left + larger);
    EXPECT_EQ(r.bottom - r.top, o.bottom - o.top + larger);
    EXPECT_EQ(r.left, o.left - upLeft);
    EXPECT_EQ(r.top, o.top - upLeft);
  };
  expectAround(12, 5);
  SetWindowPos(h, nullptr, 50, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  expectAround(12, 5);  // a move only moves the shadow
  // On a monitor of 150 %, the shadow's skin pixels scale with the window's:
  // 9 on each side (6 x 1.5), offset 2 (1 x 1.5 rounded), so 7 up-left.
  RECT at = {50, 60, 50 + 540, 60 + 270};
  SendMessageW(h, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&at));
  Pump(30);
  expectAround(18, 7);
  EXPECT_EQ(frame.shadow().params(144).sharpness, 15);

  ShowWindow(h, SW_MINIMIZE);
  EXPECT_FALSE(IsWindowVisible(s));
  EXPECT_FALSE(frame.shadow().state() & CDropShadow::kShadowShown);
  ShowWindow(h, SW_RESTORE);
  Pump(30);
  EXPECT_TRUE(IsWindowVisible(s));

  SendMessageW(h, WM_KEYDOWN, VK_ESCAPE, 0);  // swallowed
  Pump(30);
  EXPECT_TRUE(IsWindow(h));
  DestroyWindow(h);
  EXPECT_FALSE(IsWindow(s));
}

std::wstring WriteSkin(const wchar_t* name, const std::wstring& rootAttributes) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"ov_frame_test\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::string text = Utils::WideToUtf8(L"<Window size=\"200,100\" roundcorner=\"2,2\" " + rootAttributes +
                                             L"><VerticalLayout bkcolor=\"#FFFFFFFF\"/></Window>");
  const Utils::UniqueHandle f(
      CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  WriteFile(f.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  skin::SetResourcePath(folder);
  return name;
}

TEST_F(SkinFrameTest, ShadowAttributesAreCheckedOneByOne) {
  struct Case {
    const wchar_t* attributes;
    bool shadow;
    int size, sharpness, darkness;
  } cases[] = {
      {L"showshadow=\"TRUE\" shadowsize=\"4\"", true, 4, 5, 150},
      {L"showshadow=\"yes\"", false, 0, 5, 150},
      {L"showshadow=\"true\" shadowsize=\"21\" shadowsharpness=\"21\" shadowdarkness=\"256\"", true, 0, 5, 150},
      {L"showshadow=\"true\" shadowsize=\"-20\" shadowsharpness=\"0\" shadowdarkness=\"255\"", true, -20, 0, 255},
      {L"showshadow=\"true\" shadowimage=\"res\\none.png\" shadowcorner=\"1,2,3,4\"", true, 0, 5, 150},
  };
  for (const Case& c : cases) {
    SkinDescriptor d = SkinDescriptor::ForFile(WriteSkin(L"ShadowSkin.xml", c.attributes));
    d.resourceKind = skin::kSkinFromFile;
    Frame frame(d);
    HWND h = frame.Open();
    ASSERT_NE(h, nullptr) << c.attributes;
    Pump(20);
    EXPECT_EQ(IsWindow(frame.shadow().window()) != FALSE, c.shadow) << c.attributes;
    const ShadowParams p = frame.shadow().params();
    EXPECT_EQ(p.size, c.size) << c.attributes;
    EXPECT_EQ(p.sharpness, c.sharpness) << c.attributes;
    EXPECT_EQ(p.darkness, c.darkness) << c.attributes;
    if (c.shadow) {
      // A missing shadow image leaves the computed shadow: owner + 2 x size.
      RECT o, r;
      GetWindowRect(h, &o);
      GetWindowRect(frame.shadow().window(), &r);
      EXPECT_EQ(r.right - r.left, o.right - o.left + 2 * c.size) << c.attributes;
    }
  }
}

TEST_F(SkinFrameTest, ShadowObjectGoingFirstLeavesTheWindowWorking) {
  auto frame = std::make_unique<Frame>(SkinDescriptor::ForFile(L"exitTipWnd.xml"));
  HWND h = frame->Open();
  ASSERT_NE(h, nullptr);
  frame.reset();  // destroys the window after the shadow object
  EXPECT_FALSE(IsWindow(h));
}

TEST_F(SkinFrameTest, MainWindowAnimationRunsInTheRealWindow) {
  Frame frame(SkinDescriptor::ForFile(L"MainWnd.xml"));
  HWND h = frame.Open();
  ASSERT_NE(h, nullptr);
  auto* tabs = static_cast<skin::TabLayout*>(frame.FindControl(L"mainTabLt"));
  ASSERT_NE(tabs, nullptr);
  tabs->SelectItem(2);
  auto* animation = static_cast<CSequenceLabelUI*>(frame.FindControl(L"progressAnLb")->GetInterface(L"SequenceLabel"));
  ASSERT_NE(animation, nullptr);
  EXPECT_EQ(animation->GetSequenceCount(), 25);
  EXPECT_EQ(animation->GetSequenceSpan(), 30);
  std::vector<std::wstring> seen;
  const std::wstring last = L"res\\mainWnd\\installBtnAnimate\\024.png";
  // Until the last frame shows: a busy machine delays timers, so the limit
  // is generous and the test asserts on frames, not on time.
  const DWORD end = GetTickCount() + 15000;
  while (static_cast<LONG>(end - GetTickCount()) > 0 && (seen.size() < 10 || seen.back() != last)) {
    Pump(10);
    if (seen.empty() || seen.back() != animation->GetBkImage()) seen.push_back(animation->GetBkImage());
  }
  // Autostarted: it went through its frames to the last one.
  EXPECT_GE(seen.size(), 10u);
  EXPECT_NE(std::find(seen.begin(), seen.end(), last), seen.end());
  animation->Stop();
  const std::wstring stopped = animation->GetBkImage();
  Pump(100);
  EXPECT_EQ(animation->GetBkImage(), stopped);
  animation->Start();  // again from frame 0
  Pump(15);
  EXPECT_EQ(animation->animation().index <= 2, true);
  DestroyWindow(h);
}

}  // namespace
