// Shows one skin in a real window, for people (the gallery), GUI tests and
// the first-paint benchmark. Console program: it reports on stdout.
//
//   skinview --dialog <skin.xml> [--text T] [--caption C] [--owner]
//       ShowMessageBox; prints "result=<n>" (and "owner-enabled=<0|1>"),
//       exit code = the result.
//   skinview --window <skin.xml> [--page N]
//       the skin in a plain framed window; --page selects mainTabLt's page.
//   skinview --main-window
//       the installer's real main window controller (its start-up checks
//       included), for the first-paint benchmark.
//   --layout   prints "<name> <left> <top> <right> <bottom>" (screen
//              coordinates, device pixels at the window's DPI) for every named
//              control once the window shows, after "@window" and the window's
//              own rectangle and "@dpi <dpi>"; then "clipped <who> need <w>x<h>
//              room <w>x<h>" for every visible text that does not fit its
//              control in the window's fonts (edits, which scroll, excepted).
//   --focus <name>  gives that control the focus as the keyboard would
//              (its focus mark shows).
//   --first-paint  ends the program right after the first painted frame and
//              prints where the start went ("startup-mark <name> <epoch ms>",
//              "startup-step <name> <ms> <count>").
//   --installer-start  (with --main-window) first runs the installer's own
//              start-up steps that come before its window: the system DLL
//              preload and libcurl's initialisation.
//   --measure-animation <s>  (with --window mainWnd.xml --page 2) counts the
//              frames progressAnLb shows in <s> seconds and the growth of the
//              private memory meanwhile, prints them and ends.
#include <windows.h>

#include <curl/curl.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/startup_marks.h"
#include "toolkit/controls.h"
#include "toolkit/gdi_handles.h"
#include "ui/main_wnd.h"
#include "ui/message_box.h"
#include "ui/sequence_controls.h"
#include "ui/skin_frame.h"

namespace {

bool g_layout = false;
bool g_firstPaint = false;
int g_page = -1;
int g_measureSeconds = 0;
std::wstring g_focus;  // shown with its keyboard focus mark

size_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX pmc = {};
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc));
  return pmc.PrivateUsage;
}

void PrintStartup() {
  Utils::StartupMark marks[64];
  const size_t n = Utils::StartupMarks(marks, 64);
  for (size_t i = 0; i < n; ++i) printf("startup-mark %s %.1f\n", marks[i].name, marks[i].epochMs);
  Utils::StartupStepTotal steps[32];
  const size_t m = Utils::StartupStepTotals(steps, 32);
  for (size_t i = 0; i < m; ++i) printf("startup-step %s %.1f %d\n", steps[i].name, steps[i].ms, steps[i].count);
}

// Texts that do not fit their control: measured as the control draws them
// (its font at the window's DPI, its padding, one line or wrapped).
void PrintClippedTexts(skin::PaintManager& manager, const std::vector<skin::Control*>& all) {
  const skin::UniqueWindowDc window = skin::GetWindowDc(manager.GetHWND());
  HDC dc = window.get().dc;
  for (skin::Control* c : all) {
    const std::wstring text = c->GetText();
    if (text.empty() || !c->IsVisible() || c->GetInterface(L"Edit")) continue;
    const RECT pos = c->GetPos();
    const RECT pad = manager.Scale(c->GetTextPadding());
    const int roomW = (pos.right - pad.right) - (pos.left + pad.left);
    const int roomH = (pos.bottom - pad.bottom) - (pos.top + pad.top);
    const UINT style = c->GetTextStyle();
    const bool wrap = !(style & DT_SINGLELINE) && (style & DT_WORDBREAK);
    RECT need = {0, 0, wrap ? roomW : 100000, 100000};
    HGDIOBJ old = SelectObject(dc, manager.GetFont(c->GetFont()));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need,
              DT_CALCRECT | DT_NOPREFIX | (wrap ? DT_WORDBREAK : DT_SINGLELINE));
    SelectObject(dc, old);
    if (need.right > roomW || need.bottom > roomH)
      printf("clipped %ls need %ldx%ld room %dx%d\n", c->GetName().empty() ? text.c_str() : c->GetName().c_str(),
             need.right, need.bottom, roomW, roomH);
  }
}

void PrintLayout(skin::WindowImplBase* window) {
  std::vector<skin::Control*> all;
  if (!window->Manager().GetRoot()) return;
  window->Manager().GetRoot()->Collect(&all);
  // Where Windows has the window at the same moment: offsets taken against
  // the X window's later position can be off while it still settles.
  RECT w = {};
  GetWindowRect(window->GetHWND(), &w);
  printf("@window %ld %ld %ld %ld\n", w.left, w.top, w.right, w.bottom);
  printf("@dpi %d\n", window->Manager().Dpi());
  for (skin::Control* c : all) {
    if (c->GetName().empty() || !c->IsVisible()) continue;
    RECT r = c->GetPos();
    MapWindowPoints(window->GetHWND(), nullptr, reinterpret_cast<POINT*>(&r), 2);
    printf("%ls %ld %ld %ld %ld\n", c->GetName().c_str(), r.left, r.top, r.right, r.bottom);
  }
  PrintClippedTexts(window->Manager(), all);
  printf("ready\n");
  fflush(stdout);
}

// Reports the layout after the first paint, or quits there.
template <class Base>
class Probe : public Base {
 public:
  using Base::Base;

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
    const LRESULT result = Base::HandleMessage(message, wParam, lParam);
    if (message == WM_PAINT && !painted_) {
      painted_ = true;
      if (g_firstPaint) {
        // Also said in-process: from the process's creation to this paint.
        FILETIME created, exited, kernel, user, now;
        GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
        GetSystemTimeAsFileTime(&now);
        const auto ticks = [](FILETIME t) {
          return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        };
        printf("first-paint-ms=%llu\n", (ticks(now) - ticks(created)) / 10000);
        // The same moment on the host's clock, so the benchmark can measure
        // from the launch it timed itself, without the program's teardown.
        printf("first-paint-epoch-ms=%llu\n", (ticks(now) - 116444736000000000ULL) / 10000);
        PrintStartup();
        fflush(stdout);
        PostQuitMessage(0);
      }
      if (g_layout) PrintLayout(this);
      start_ = GetTickCount();
      startBytes_ = PrivateBytes();
    }
    if (message == WM_TIMER && g_measureSeconds && painted_) Measure();
    return result;
  }
  skin::Control* CreateControl(const wchar_t* className) override { return CreateSequenceControl(className); }
  void Measure() {
    skin::Control* animation = this->FindControl(L"progressAnLb");
    if (!animation) return;
    if (animation->GetBkImage() != lastFrame_) {
      lastFrame_ = animation->GetBkImage();
      ++frames_;
    }
    const DWORD elapsed = GetTickCount() - start_;
    if (elapsed < static_cast<DWORD>(g_measureSeconds) * 1000) return;
    printf("frames=%d expected=%lu growth-kb=%ld\n", frames_, elapsed / 30,
           static_cast<long>((static_cast<long long>(PrivateBytes()) - static_cast<long long>(startBytes_)) / 1024));
    fflush(stdout);
    g_measureSeconds = 0;
    PostQuitMessage(0);
  }
  void InitWindow() override {
    Base::InitWindow();
    if (auto* tab = static_cast<skin::TabLayout*>(this->FindControl(L"mainTabLt")))
      if (g_page >= 0) tab->SelectItem(g_page, false);
    if (!g_focus.empty()) this->Manager().SetFocus(this->FindControl(g_focus.c_str()), true);
  }

 private:
  bool painted_ = false;
  DWORD start_ = 0;
  size_t startBytes_ = 0;
  int frames_ = 0;
  std::wstring lastFrame_;
};

using ProbeDialog = Probe<CMessageBoxWnd>;
using ProbeWindow = Probe<CSkinFrame>;
using ProbeMainWindow = Probe<CMainWnd>;

// "\n" typed on a command line becomes a line break.
std::wstring Unescape(const wchar_t* text) {
  std::wstring out;
  for (const wchar_t* p = text; *p; ++p) {
    if (p[0] == L'\\' && p[1] == L'n')
      out += L"\r\n", ++p;
    else
      out += *p;
  }
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Utils::MarkStartup("main");
  std::wstring mode, skinFile;
  std::wstring textArg, captionArg;
  const wchar_t* text = nullptr;
  const wchar_t* caption = nullptr;
  bool withOwner = false;
  bool installerStart = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if ((a == L"--dialog" || a == L"--window") && i + 1 < argc)
      mode = a, skinFile = argv[++i];
    else if (a == L"--main-window")
      mode = a;
    else if (a == L"--text" && i + 1 < argc)
      textArg = Unescape(argv[++i]), text = textArg.c_str();
    else if (a == L"--caption" && i + 1 < argc)
      captionArg = Unescape(argv[++i]), caption = captionArg.c_str();
    else if (a == L"--page" && i + 1 < argc)
      g_page = _wtoi(argv[++i]);
    else if (a == L"--focus" && i + 1 < argc)
      g_focus = argv[++i];
    else if (a == L"--owner")
      withOwner = true;
    else if (a == L"--layout")
      g_layout = true;
    else if (a == L"--first-paint")
      g_firstPaint = true;
    else if (a == L"--installer-start")
      installerStart = true;
    else if (a == L"--measure-animation" && i + 1 < argc)
      g_measureSeconds = _wtoi(argv[++i]);
  }
  if (mode.empty()) {
    fprintf(stderr, "usage: skinview --dialog|--window <skin.xml> [options]\n");
    return 64;
  }
  if (installerStart) {
    PreloadSystemLibraries();
    Utils::MarkStartup("dlls-preloaded");
    curl_global_init(CURL_GLOBAL_ALL);
    Utils::MarkStartup("curl-ready");
  }
  PrepareSkinToolkit(GetModuleHandleW(nullptr));
  if (mode == L"--main-window") {
    ProbeMainWindow window;
    if (!window.Create(nullptr, L"OndraVelqor", 0x10CF0000, 0)) return 70;
    window.CenterWindow();
    window.ShowModal();
    return 0;
  }
  const SkinDescriptor descriptor = SkinDescriptor::ForFile(skinFile);
  if (mode == L"--window") {
    ProbeWindow window(descriptor);
    if (!window.Create(nullptr, L"OndraVelqor", 0x10CF0000, 0)) return 70;
    window.CenterWindow();
    window.ShowModal();
    return 0;
  }
  HWND owner = nullptr;
  if (withOwner) {
    owner = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 700, 500, nullptr,
                            nullptr, nullptr, nullptr);
  }
  ProbeDialog dialog(descriptor);
  if (!dialog.Create(owner, L"消息框", 0x10CF0000, 0)) return 70;
  dialog.SetTexts(text, caption);
  dialog.CenterWindow();
  dialog.ShowModal();
  printf("result=%d\n", dialog.result());
  if (owner) printf("owner-enabled=%d\n", IsWindowEnabled(owner) ? 1 : 0);
  fflush(stdout);
  return dialog.result();
}
