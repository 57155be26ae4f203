// Helpers for the window tests of ui/.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "toolkit/test_support.h"
#include "toolkit/window.h"

namespace ui_test {

using skin::test::Pump;

// Runs `step` every 30 ms from inside whatever message loop runs (a modal
// dialog's), until it returns true.
class Script {
 public:
  explicit Script(std::function<bool()> step) {
    Current() = std::move(step);
    timer_ = SetTimer(nullptr, 0, 30, Tick);
  }
  ~Script() {
    KillTimer(nullptr, timer_);
    Current() = nullptr;
  }

 private:
  static std::function<bool()>& Current() {
    static std::function<bool()> step;
    return step;
  }
  static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) {
    if (Current() && Current()()) {
      Current() = nullptr;
      KillTimer(nullptr, id);
    }
  }
  UINT_PTR timer_;
};

// Posts a left click at the centre of a named control of a skinned window.
inline bool ClickControl(HWND window, const wchar_t* name) {
  skin::WindowImplBase* w = skin::WindowImplBase::FromHandle(window);
  skin::Control* c = w ? w->FindControl(name) : nullptr;
  if (!c) return false;
  const RECT r = c->GetPos();
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  PostMessageW(window, WM_MOUSEMOVE, 0, at);
  PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(window, WM_LBUTTONUP, 0, at);
  return true;
}

inline std::wstring ControlText(HWND window, const wchar_t* name) {
  skin::WindowImplBase* w = skin::WindowImplBase::FromHandle(window);
  skin::Control* c = w ? w->FindControl(name) : nullptr;
  return c ? c->GetText() : L"<missing>";
}

}  // namespace ui_test
