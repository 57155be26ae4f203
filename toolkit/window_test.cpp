// Real windows under Wine: input messages, timers, notifications, focus,
// the modal loop and the skin-loading failure paths.
#include "toolkit/window.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/strings.h"
#include "toolkit/controls.h"
#include "toolkit/dpi.h"
#include "toolkit/resources.h"
#include "toolkit/test_support.h"

namespace skin {
namespace {

using test::Pump;

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"ov_toolkit_test\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

void WriteSkin(const std::wstring& name, const std::wstring& text) {
  const std::string bytes = Utils::WideToUtf8(text);
  const Utils::UniqueHandle f(
      CreateFileW((TempFolder() + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

struct Note {
  std::wstring type;
  std::wstring sender;
  WPARAM wParam;
  DWORD thread;
};

class TestWindow : public WindowImplBase {
 public:
  explicit TestWindow(std::wstring file, int type = kSkinFromFile) : file_(std::move(file)), type_(type) {}
  HWND Open() {
    SetResourcePath(TempFolder());
    return Create(nullptr, L"toolkit test", WS_POPUP | WS_VISIBLE, 0);
  }
  int Count(const std::wstring& type, const std::wstring& sender = L"") const {
    int n = 0;
    for (const Note& note : notes)
      if (note.type == type && (sender.empty() || note.sender == sender)) ++n;
    return n;
  }
  // Sends a mouse message at the centre of a control (client coordinates).
  void Mouse(UINT message, const wchar_t* name, int dx = 0) {
    const RECT r = FindControl(name)->GetPos();
    SendMessageW(GetHWND(), message, message == WM_LBUTTONDOWN ? MK_LBUTTON : 0,
                 MAKELPARAM((r.left + r.right) / 2 + dx, (r.top + r.bottom) / 2));
  }
  std::vector<Note> notes;

 protected:
  const wchar_t* GetWindowClassName() const override { return L"ToolkitTestWnd"; }
  std::wstring GetSkinFile() override { return file_; }
  int GetResourceType() const override { return type_; }
  int GetResourceID() const override { return 999; }
  void Notify(skin::Notify& msg) override {
    notes.push_back(Note{msg.type, msg.sender ? msg.sender->GetName() : L"", msg.wParam, GetCurrentThreadId()});
    WindowImplBase::Notify(msg);
  }

 private:
  std::wstring file_;
  int type_;
};

const wchar_t kSkin[] =
    LR"(<?xml version="1.0" encoding="utf-8"?>
<Window size="300,200" caption="0,0,0,30" roundcorner="4,4">
  <VerticalLayout name="root">
    <HorizontalLayout height="30"><Control/><Button name="closebtn" width="30" tabstop="false"/></HorizontalLayout>
    <HorizontalLayout height="30">
      <Button name="b1" width="60"/><Button name="off" width="60" enabled="false"/><Button name="b2" width="60"/>
      <CheckBox name="cb" width="60"/>
    </HorizontalLayout>
    <HorizontalLayout height="30">
      <Option name="o1" group="g" width="60" selected="true"/><Option name="o2" group="g" width="60"/>
      <Edit name="edit" width="120" text="C:\Apps"/>
    </HorizontalLayout>
    <Label name="lang" height="20" text="%[104]"/>
    <Combo name="combo" height="20"><ListLabelElement text="English"/><ListLabelElement text="中文"/></Combo>
    <TabLayout name="tabs"><Control name="p0"/><Control name="p1"/></TabLayout>
  </VerticalLayout>
</Window>)";

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteSkin(L"test.xml", kSkin);
    window_ = std::make_unique<TestWindow>(L"test.xml");
    ASSERT_NE(window_->Open(), nullptr);
    Pump(20);
  }
  std::unique_ptr<TestWindow> window_;
};

TEST_F(WindowTest, WindowTakesTheSkinSizeCaptionAndRegion) {
  HWND h = window_->GetHWND();
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_EQ(r.right - r.left, 300);
  EXPECT_EQ(r.bottom - r.top, 200);
  EXPECT_NE(GetWindowRgn(h, UniqueRegion(CreateRectRgn(0, 0, 0, 0)).get()), ERROR);
  auto hit = [&](int x, int y) { return SendMessageW(h, WM_NCHITTEST, 0, MAKELPARAM(r.left + x, r.top + y)); };
  EXPECT_EQ(hit(100, 10), HTCAPTION);
  EXPECT_EQ(hit(285, 10), HTCLIENT);  // the close button in the strip
  EXPECT_EQ(hit(100, 100), HTCLIENT);
}

// Moved to a monitor of another DPI (per-monitor awareness): the window
// takes the rectangle Windows suggests and lays out, hit-tests and rounds its
// corners at the new scale; back at 96 DPI every control is where it was.
TEST_F(WindowTest, DpiChangeRescalesTheWindowAndItsLayout) {
  HWND h = window_->GetHWND();
  std::vector<Control*> all;
  window_->Manager().GetRoot()->Collect(&all);
  std::vector<RECT> at96;
  for (Control* c : all) at96.push_back(c->GetPos());
  RECT r;
  GetWindowRect(h, &r);
  const auto changeDpi = [&](int dpi, int width, int height) {
    RECT suggested = {r.left, r.top, r.left + width, r.top + height};
    SendMessageW(h, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    UpdateWindow(h);  // the paint lays out
    GetWindowRect(h, &r);
  };
  changeDpi(144, 450, 300);
  EXPECT_EQ(window_->Manager().Dpi(), 144);
  EXPECT_EQ(r.right - r.left, 450);
  EXPECT_EQ(r.bottom - r.top, 300);
  for (size_t i = 0; i < all.size(); ++i) {
    const RECT want = ScaleToDpi(at96[i], 144);
    EXPECT_TRUE(EqualRect(&all[i]->GetPos(), &want)) << i;
  }
  EXPECT_EQ(window_->FindControl(L"b1")->GetPos().right, window_->FindControl(L"off")->GetPos().left);
  auto hit = [&](int x, int y) { return SendMessageW(h, WM_NCHITTEST, 0, MAKELPARAM(r.left + x, r.top + y)); };
  EXPECT_EQ(hit(150, 40), HTCAPTION);  // the 30-pixel strip is 45 high now
  EXPECT_EQ(hit(430, 20), HTCLIENT);   // its close button, 30 -> 45 wide
  changeDpi(96, 300, 200);
  for (size_t i = 0; i < all.size(); ++i) EXPECT_TRUE(EqualRect(&all[i]->GetPos(), &at96[i])) << i;
  EXPECT_EQ(hit(150, 40), HTCLIENT);
}

TEST_F(WindowTest, TimersNotifyUntilKilled) {
  Control* label = window_->FindControl(L"lang");
  ASSERT_TRUE(label->SetTimer(5, 10));
  Pump(200);
  EXPECT_GE(window_->Count(L"timer", L"lang"), 3);
  EXPECT_EQ(window_->notes.back().wParam, 5u);
  label->KillTimer(5);
  Pump(30);
  const int after = window_->Count(L"timer");
  Pump(100);
  EXPECT_EQ(window_->Count(L"timer"), after);
}

TEST_F(WindowTest, NotificationsDirectAndQueuedFromAnyThread) {
  PaintManager& pm = window_->Manager();
  Control* root = pm.GetRoot();
  pm.SendNotify(root, L"install", 0);
  EXPECT_EQ(window_->Count(L"install"), 1);  // delivered before returning
  pm.SendNotify(root, L"install", 1, 0, true);
  EXPECT_EQ(window_->Count(L"install"), 1);
  std::thread worker([&] { pm.SendNotify(root, L"checknet", 0x10000, 0, true); });
  worker.join();
  Pump(50);
  EXPECT_EQ(window_->Count(L"install"), 2);
  ASSERT_EQ(window_->Count(L"checknet"), 1);
  for (const Note& n : window_->notes)
    if (n.type == L"checknet") {
      EXPECT_EQ(n.wParam, 0x10000u);
      EXPECT_EQ(n.thread, GetCurrentThreadId());  // handed to the window thread
    }
  // Queued for a window that goes away first: dropped, not delivered later.
  pm.SendNotify(root, L"late", 0, 0, true);
  DestroyWindow(window_->GetHWND());
  Pump(20);
  EXPECT_EQ(window_->Count(L"late"), 0);
}

TEST_F(WindowTest, MouseHoverPressAndClick) {
  auto* b1 = static_cast<Button*>(window_->FindControl(L"b1"));
  window_->Mouse(WM_MOUSEMOVE, L"b1");
  EXPECT_TRUE(b1->IsHot());
  window_->Mouse(WM_LBUTTONDOWN, L"b1");
  EXPECT_TRUE(b1->IsPushed());
  window_->Mouse(WM_LBUTTONUP, L"b1");
  EXPECT_EQ(window_->Count(L"click", L"b1"), 1);
  // Pressed, then released elsewhere: no click.
  window_->Mouse(WM_LBUTTONDOWN, L"b1");
  window_->Mouse(WM_LBUTTONUP, L"b1", 100);
  EXPECT_EQ(window_->Count(L"click", L"b1"), 1);
  // A disabled button ignores the mouse.
  window_->Mouse(WM_LBUTTONDOWN, L"off");
  window_->Mouse(WM_LBUTTONUP, L"off");
  EXPECT_EQ(window_->Count(L"click", L"off"), 0);
}

TEST_F(WindowTest, TabOrderSkipsDisabledAndKeysActivate) {
  HWND h = window_->GetHWND();
  SendMessageW(h, WM_KEYDOWN, VK_TAB, 0);
  EXPECT_EQ(window_->Manager().GetFocus()->GetName(), L"b1");
  SendMessageW(h, WM_KEYDOWN, VK_TAB, 0);
  EXPECT_EQ(window_->Manager().GetFocus()->GetName(), L"b2");
  SendMessageW(h, WM_KEYDOWN, VK_RETURN, 0);
  SendMessageW(h, WM_KEYDOWN, VK_SPACE, 0);
  EXPECT_EQ(window_->Count(L"click", L"b2"), 2);
  SendMessageW(h, WM_KEYDOWN, VK_TAB, 0);
  SendMessageW(h, WM_KEYDOWN, VK_SPACE, 0);  // the check box toggles from the keyboard
  EXPECT_TRUE(static_cast<Option*>(window_->FindControl(L"cb"))->IsSelected());
}

// A dialog-like skin: the default button sits on the shown page; the hidden
// page's one comes first in the markup and must not answer Enter.
const wchar_t kDefaultSkin[] =
    LR"(<?xml version="1.0" encoding="utf-8"?>
<Window size="300,200" focuscolor="#FFFF0000">
  <VerticalLayout>
    <TabLayout height="40"><Control/><Button name="hidden" default="true"/></TabLayout>
    <HorizontalLayout height="40">
      <Control width="20"/><Button name="other" width="60" text="Other"/><Control width="20"/>
      <Button name="ok" width="60" text="OK OK" default="true" borderround="8,8"/>
    </HorizontalLayout>
    <Edit name="edit" height="30" text="C:\Apps"/>
    <Control/>
  </VerticalLayout>
</Window>)";

// Pixels of a rectangle of the window's rendering (0xRRGGBB each).
std::vector<uint32_t> RenderedPixels(TestWindow& w, const RECT& part) {
  RECT client;
  GetClientRect(w.GetHWND(), &client);
  BITMAPINFO bi = {};
  bi.bmiHeader = {sizeof(bi.bmiHeader), client.right, -client.bottom, 1, 32, BI_RGB};
  void* bits = nullptr;
  const UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
  const UniqueBitmap bitmap(CreateDIBSection(dc.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
  FillRect(dc.get(), &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  w.Manager().Render(dc.get(), client, client);
  GdiFlush();
  std::vector<uint32_t> out;
  for (LONG y = part.top; y < part.bottom; ++y)
    for (LONG x = part.left; x < part.right; ++x)
      out.push_back(static_cast<const uint32_t*>(bits)[y * client.right + x] & 0xFFFFFF);
  SelectObject(dc.get(), old);
  return out;
}

TEST(WindowKeyboard, EnterPressesTheDefaultButtonUnlessAButtonHasTheFocus) {
  WriteSkin(L"default.xml", kDefaultSkin);
  TestWindow w(L"default.xml");
  ASSERT_NE(w.Open(), nullptr);
  Pump(20);
  HWND h = w.GetHWND();
  // Opened with the focus on it, without the keyboard's mark.
  ASSERT_NE(w.Manager().GetFocus(), nullptr);
  EXPECT_EQ(w.Manager().GetFocus()->GetName(), L"ok");
  EXPECT_FALSE(w.Manager().ShowFocusCue());
  SendMessageW(h, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ(w.Count(L"click", L"ok"), 1);
  // A focused button takes Enter itself.
  w.Manager().SetFocus(w.FindControl(L"other"), true);
  SendMessageW(h, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ(w.Count(L"click", L"other"), 1);
  EXPECT_EQ(w.Count(L"click", L"ok"), 1);
  // In the folder field Enter answers too, through its native editor.
  auto* edit = static_cast<Edit*>(w.FindControl(L"edit"));
  w.Mouse(WM_LBUTTONDOWN, L"edit");
  w.Mouse(WM_LBUTTONUP, L"edit");
  ASSERT_NE(edit->NativeWindow(), nullptr);
  SendMessageW(edit->NativeWindow(), WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ(w.Count(L"click", L"ok"), 2);
  EXPECT_EQ(w.Count(L"click", L"hidden"), 0);
  // Without any default, Enter with no focus does nothing.
  w.FindControl(L"ok")->SetEnabled(false);
  w.Manager().SetFocus(nullptr);
  SendMessageW(h, WM_KEYDOWN, VK_RETURN, 0);
  EXPECT_EQ(w.Count(L"click"), 3);
}

TEST(WindowKeyboard, FocusMarkFramesTheControlWithoutTouchingIt) {
  WriteSkin(L"default.xml", kDefaultSkin);
  TestWindow w(L"default.xml");
  ASSERT_NE(w.Open(), nullptr);
  Pump(20);
  Control* other = w.FindControl(L"other");
  const RECT pos = other->GetPos();
  RECT around = pos;
  InflateRect(&around, 4, 4);
  const std::vector<uint32_t> plain = RenderedPixels(w, pos);
  const std::vector<uint32_t> before = RenderedPixels(w, around);
  w.Manager().SetFocus(other, true);
  ASSERT_TRUE(w.Manager().ShowFocusCue());
  // Inside: the control and its text exactly as without the mark.
  EXPECT_EQ(RenderedPixels(w, pos), plain);
  // Outside: the mark, in the skin's colour, 3 pixels out on every side.
  const LONG midX = (pos.left + pos.right) / 2, midY = (pos.top + pos.bottom) / 2;
  for (const POINT p :
       {POINT{pos.left - 3, midY}, POINT{pos.right + 2, midY}, POINT{midX, pos.top - 3}, POINT{midX, pos.bottom + 2}})
    EXPECT_EQ(RenderedPixels(w, RECT{p.x, p.y, p.x + 1, p.y + 1})[0], 0xFF0000u) << p.x << "," << p.y;
  EXPECT_NE(RenderedPixels(w, around), before);
  // The mouse takes the mark away again.
  w.Mouse(WM_LBUTTONDOWN, L"ok");
  w.Mouse(WM_LBUTTONUP, L"ok");
  EXPECT_FALSE(w.Manager().ShowFocusCue());
  EXPECT_EQ(RenderedPixels(w, around), before);

  // At 150 % the mark keeps its skin-pixel place and width: its outer edge
  // 3 skin pixels out is scaled like any edge, its pen 1.5 rounded to 2,
  // and it still leaves the control's own pixels alone.
  RECT at;
  GetWindowRect(w.GetHWND(), &at);
  at.right = at.left + 450, at.bottom = at.top + 300;
  SendMessageW(w.GetHWND(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&at));
  RenderedPixels(w, RECT{0, 0, 1, 1});  // lays out at the new scale
  const RECT big = other->GetPos();
  const std::vector<uint32_t> bigPlain = RenderedPixels(w, big);
  w.Manager().SetFocus(other, true);
  EXPECT_EQ(RenderedPixels(w, big), bigPlain);
  RECT outer = other->GetLayoutPos();
  InflateRect(&outer, 3, 3);
  outer = ScaleToDpi(outer, 144);
  const LONG bigY = (big.top + big.bottom) / 2;
  for (const LONG x : {outer.left, outer.left + 1, outer.right - 2, outer.right - 1})
    EXPECT_EQ(RenderedPixels(w, RECT{x, bigY, x + 1, bigY + 1})[0], 0xFF0000u) << x;
  for (const LONG x : {outer.left + 2, outer.right - 3})  // the gap between mark and control
    EXPECT_NE(RenderedPixels(w, RECT{x, bigY, x + 1, bigY + 1})[0], 0xFF0000u) << x;
}

TEST_F(WindowTest, CheckBoxesAndOptionGroupsNotifyChanges) {
  auto* cb = static_cast<Option*>(window_->FindControl(L"cb"));
  window_->Mouse(WM_LBUTTONDOWN, L"cb");
  window_->Mouse(WM_LBUTTONUP, L"cb");
  EXPECT_TRUE(cb->IsSelected());
  EXPECT_EQ(window_->Count(L"selectchanged", L"cb"), 1);
  cb->Selected(false, false);
  EXPECT_EQ(window_->Count(L"selectchanged", L"cb"), 1);  // without notification
  window_->Mouse(WM_LBUTTONDOWN, L"o2");
  window_->Mouse(WM_LBUTTONUP, L"o2");
  EXPECT_TRUE(static_cast<Option*>(window_->FindControl(L"o2"))->IsSelected());
  EXPECT_FALSE(static_cast<Option*>(window_->FindControl(L"o1"))->IsSelected());
}

TEST_F(WindowTest, EditUsesANativeEditorWhileFocused) {
  auto* edit = static_cast<Edit*>(window_->FindControl(L"edit"));
  window_->Mouse(WM_LBUTTONDOWN, L"edit");
  window_->Mouse(WM_LBUTTONUP, L"edit");
  ASSERT_NE(edit->NativeWindow(), nullptr);
  SendMessageW(edit->NativeWindow(), WM_CHAR, L'\\', 0);
  SendMessageW(edit->NativeWindow(), WM_CHAR, L'x', 0);
  EXPECT_EQ(edit->GetText(), L"C:\\Apps\\x");
  EXPECT_GE(window_->Count(L"textchanged", L"edit"), 1);
  window_->Mouse(WM_LBUTTONDOWN, L"lang");  // a click on a label takes the focus away
  EXPECT_EQ(edit->NativeWindow(), nullptr);
  EXPECT_EQ(edit->GetText(), L"C:\\Apps\\x");
  edit->SetText(L"D:\\Apps");
  EXPECT_EQ(edit->GetText(), L"D:\\Apps");
}

TEST_F(WindowTest, ListAndTabSelectionNotify) {
  auto* combo = static_cast<Combo*>(window_->FindControl(L"combo"));
  EXPECT_TRUE(combo->SelectItem(1));
  EXPECT_FALSE(combo->SelectItem(2));
  EXPECT_EQ(combo->GetText(), L"中文");
  EXPECT_EQ(window_->Count(L"itemselect", L"combo"), 1);
  auto* tabs = static_cast<TabLayout*>(window_->FindControl(L"tabs"));
  tabs->SelectItem(1);
  tabs->SelectItem(0, false);
  EXPECT_EQ(window_->Count(L"tabselect", L"tabs"), 1);
  EXPECT_EQ(window_->notes.back().wParam, 1u);
}

TEST_F(WindowTest, LanguageTextsReplaceTheirReferences) {
  Control* label = window_->FindControl(L"lang");
  EXPECT_EQ(label->GetText(), L"%[104]");  // no such text: the reference itself
  SetLanguageText(104, L"磁盘空间不足");
  EXPECT_EQ(label->GetText(), L"磁盘空间不足");
  ClearLanguageTexts();
}

TEST_F(WindowTest, ModalLoopEndsWithTheWindowAndPassesQuitOn) {
  window_->Close(7);
  window_->ShowModal();
  EXPECT_FALSE(IsWindow(window_->GetHWND()));
  EXPECT_EQ(window_->GetHWND(), nullptr);

  TestWindow second(L"test.xml");
  ASSERT_NE(second.Open(), nullptr);
  PostQuitMessage(3);
  second.ShowModal();  // WM_QUIT ends the loop although the window still exists
  EXPECT_TRUE(IsWindow(second.GetHWND()));
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(WindowTest, EscapeClosesAPlainToolkitWindow) {
  SendMessageW(window_->GetHWND(), WM_KEYDOWN, VK_ESCAPE, 0);
  Pump(30);
  EXPECT_FALSE(IsWindow(window_->GetHWND()));
}

TEST(WindowSkinFailures, ReportedThroughTheFailureHandler) {
  std::vector<std::wstring> errors;
  SetSkinFailureHandler([&](const std::wstring&, const std::wstring& error) { errors.push_back(error); });
  WriteSkin(L"broken.xml", L"<Window><Label></Window>");
  WriteSkin(L"nocontrol.xml", L"<Window size=\"10,10\"><Font id=\"0\" name=\"x\" size=\"3\"/></Window>");
  for (const wchar_t* file : {L"absent.xml", L"broken.xml", L"nocontrol.xml"}) {
    TestWindow w(file);
    w.Open();
    EXPECT_EQ(w.Manager().GetRoot(), nullptr);
  }
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0], L"Error opening file");
  EXPECT_EQ(errors[1], L"Unmatched closing tag");
  EXPECT_EQ(errors[2], L"no control in the skin");

  // No skin resource in this module: an empty window, and no failure box.
  errors.clear();
  TestWindow fromArchive(L"mainWnd.xml", kSkinFromArchive);
  EXPECT_NE(fromArchive.Open(), nullptr);
  EXPECT_EQ(fromArchive.Manager().GetRoot(), nullptr);
  EXPECT_TRUE(errors.empty());
  SetSkinFailureHandler(nullptr);
}

}  // namespace
}  // namespace skin
