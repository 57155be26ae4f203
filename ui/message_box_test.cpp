// The dialogs in real windows, driven from inside their modal loop.
#include "ui/message_box.h"

#include <gtest/gtest.h>

#include "toolkit/resources.h"
#include "ui/ui_test_support.h"

namespace {

using ui_test::ClickControl;
using ui_test::ControlText;
using ui_test::Script;

class MessageBoxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { PrepareSkinToolkit(GetModuleHandleW(nullptr)); }
  static HWND Dialog(const wchar_t* className) {
    HWND h = FindWindowW(className, nullptr);
    return h && IsWindowVisible(h) ? h : nullptr;
  }
};

TEST_F(MessageBoxTest, EachButtonGivesItsResult) {
  struct Case {
    const wchar_t* skin;
    const wchar_t* control;  // null: Alt+F4
    int result;
  } cases[] = {
      {L"exitTipWnd.xml", L"okBtn", 0},
      {L"ExitTipWnd.xml", L"cancelBtn", 1},
      {L"exitTipWnd.xml", L"closebtn", 2},
      {L"InstalledPathTipWnd.xml", L"okBtn", 0},
      {L"InstalledPathTipWnd.xml", L"cancelBtn", 1},
      {L"NetworkTipWnd.xml", L"okBtn", 0},
      {L"NetworkTipWnd.xml", L"closebtn", 2},
      {L"MessageBox1Wnd.xml", L"closebtn", 2},
      {L"MessageBox2Wnd.xml", L"closebtn", 2},
      {L"exitTipWnd.xml", nullptr, 1},
      {L"MessageBox1Wnd.xml", nullptr, 1},
  };
  for (const Case& c : cases) {
    const SkinDescriptor skin = SkinDescriptor::ForFile(c.skin);
    Script script([&] {
      HWND h = Dialog(skin.windowClassName.c_str());
      if (!h) return false;
      if (c.control) return ClickControl(h, c.control);
      SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);  // what Alt+F4 does
      return true;
    });
    EXPECT_EQ(ShowMessageBox(nullptr, skin, nullptr, nullptr), c.result)
        << c.skin << " " << (c.control ? c.control : L"alt+f4");
  }
}

TEST_F(MessageBoxTest, EscapeDoesNotCloseTheDialog) {
  int step = 0;
  bool aliveAfterEscape = false;
  Script script([&] {
    HWND h = Dialog(L"exitTipWnd");
    if (!h) return false;
    if (step++ == 0) {
      PostMessageW(h, WM_KEYDOWN, VK_ESCAPE, 0);
      return false;
    }
    if (step < 5) return false;
    aliveAfterEscape = true;
    return ClickControl(h, L"okBtn");
  });
  EXPECT_EQ(ShowMessageBox(nullptr, SkinDescriptor::ForFile(L"exitTipWnd.xml"), nullptr, nullptr), 0);
  EXPECT_TRUE(aliveAfterEscape);
}

TEST_F(MessageBoxTest, OwnerIsDisabledMeanwhileAndTheDialogCentredOnIt) {
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 100, 80, 700, 500, nullptr, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  bool ownerDisabled = false;
  POINT centre = {};
  Script script([&] {
    HWND h = Dialog(L"MessageBox2Wnd");
    if (!h) return false;
    ownerDisabled = !IsWindowEnabled(owner);
    RECT r;
    GetWindowRect(h, &r);
    centre = POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    return ClickControl(h, L"closebtn");
  });
  EXPECT_EQ(ShowMessageBox(owner, SkinDescriptor::ForFile(L"MessageBox2Wnd.xml"), L"无效路径", L"温馨提示"), 2);
  EXPECT_TRUE(ownerDisabled);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(centre.x, 100 + 350);
  EXPECT_EQ(centre.y, 80 + 250);
  // Closed with Alt+F4 (no queued WM_CLOSE): the owner comes back as well.
  Script altF4([&] {
    HWND h = Dialog(L"MessageBox2Wnd");
    if (h) SendMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0);
    return h != nullptr;
  });
  EXPECT_EQ(ShowMessageBox(owner, SkinDescriptor::ForFile(L"MessageBox2Wnd.xml"), nullptr, nullptr), 1);
  EXPECT_TRUE(IsWindowEnabled(owner));
  DestroyWindow(owner);
}

TEST_F(MessageBoxTest, TextAndCaptionReplaceThePlaceholders) {
  struct Case {
    const wchar_t* text;
    const wchar_t* caption;
    std::wstring shownText, shownCaption;
  } cases[] = {
      {nullptr, nullptr, L"TEXT", L"CAPTION"},
      {L"安装程序检测到OndraVelqor\r\n正在运行，请退出程序后再安装", L"温馨提示",
       L"安装程序检测到OndraVelqor\r\n正在运行，请退出程序后再安装", L"温馨提示"},
      {L"消息正文", nullptr, L"消息正文", L"CAPTION"},
  };
  for (const Case& c : cases) {
    std::wstring text, caption;
    Script script([&] {
      HWND h = Dialog(L"MessageBox1Wnd");
      if (!h) return false;
      text = ControlText(h, L"textLbl");
      caption = ControlText(h, L"captionLbl");
      return ClickControl(h, L"closebtn");
    });
    ShowMessageBox(nullptr, SkinDescriptor::ForFile(L"MessageBox1Wnd.xml"), c.text, c.caption);
    EXPECT_EQ(text, c.shownText);
    EXPECT_EQ(caption, c.shownCaption);
  }
}

int g_handled = 0;

LRESULT CALLBACK SinkProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_USER + 1000) ++g_handled;
  return DefWindowProcW(w, m, wp, lp);
}

TEST_F(MessageBoxTest, PostedMessagesAreHandledWhileTheDialogRuns) {
  int& handled = g_handled;
  WNDCLASSW wc = {};
  wc.lpfnWndProc = SinkProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"ReportSink";
  RegisterClassW(&wc);
  HWND sink = CreateWindowExW(0, L"ReportSink", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  int seenDuringDialog = -1;
  Script script([&] {
    HWND h = Dialog(L"NetworkTipWnd");
    if (!h) return false;
    PostMessageW(sink, WM_USER + 1000, 0, 0);
    if (handled < 3) return false;
    seenDuringDialog = handled;
    return ClickControl(h, L"cancelBtn");
  });
  EXPECT_EQ(ShowMessageBox(nullptr, SkinDescriptor::ForFile(L"NetworkTipWnd.xml"), nullptr, nullptr), 1);
  EXPECT_GE(seenDuringDialog, 3);
  DestroyWindow(sink);
}

TEST_F(MessageBoxTest, ASkinThatCannotBeLoadedIsReported) {
  std::wstring error;
  skin::SetSkinFailureHandler([&](const std::wstring&, const std::wstring& e) { error = e; });
  Script script([&] {
    HWND h = FindWindowW(L"Missing", nullptr);
    if (h) PostMessageW(h, WM_CLOSE, 1, 0);  // the empty window the test's handler leaves
    return h != nullptr;
  });
  EXPECT_EQ(ShowMessageBox(nullptr, SkinDescriptor::ForFile(L"Missing.xml"), L"x", L"y"), 1);
  EXPECT_EQ(error, L"Could not find ziped file");
  skin::SetSkinFailureHandler(nullptr);
}

TEST_F(MessageBoxTest, TestsCanReplaceTheDialogs) {
  std::wstring seen;
  SetMessageBoxHook([&](HWND, const SkinDescriptor& s, const wchar_t* text, const wchar_t*) {
    seen = s.skinFile + L":" + (text ? text : L"");
    return 0;
  });
  EXPECT_EQ(ShowMessageBox(nullptr, SkinDescriptor::ForFile(L"MessageBox2Wnd.xml"), L"无效路径", nullptr), 0);
  EXPECT_EQ(seen, L"MessageBox2Wnd.xml:无效路径");
  SetMessageBoxHook(nullptr);
}

}  // namespace
