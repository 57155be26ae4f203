// Shared by the main window's two source files (controller and report
// handler): typed access to skin controls that may be missing, and texts
// both show.
#pragma once

#include <windows.h>

#include <string>

#include "toolkit/controls.h"

namespace main_wnd {

inline constexpr const wchar_t* kRunningText = L"安装程序检测到OndraVelqor\r\n正在运行，请退出程序后再安装";
inline constexpr const wchar_t* kTipCaption = L"温馨提示";

inline skin::Option* AsOption(skin::Control* c) {
  return c ? static_cast<skin::Option*>(c->GetInterface(L"Option")) : nullptr;
}
inline skin::Progress* AsProgress(skin::Control* c) {
  return c ? static_cast<skin::Progress*>(c->GetInterface(L"Progress")) : nullptr;
}
inline bool IsSelected(skin::Control* c) {
  skin::Option* o = AsOption(c);
  return o && o->IsSelected();
}

}  // namespace main_wnd
