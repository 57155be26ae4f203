#include "toolkit/window.h"

#include <windowsx.h>

#include <algorithm>
#include <vector>

#include "platform/log.h"
#include "platform/startup_marks.h"
#include "toolkit/archive.h"
#include "toolkit/builder.h"
#include "toolkit/controls.h"
#include "toolkit/dpi.h"
#include "toolkit/markup.h"
#include "toolkit/resources.h"

namespace skin {

WindowImplBase::~WindowImplBase() {
  if (window_ && IsWindow(window_)) {
    // The object goes first: the window must not call back into it.
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

HWND WindowImplBase::Create(HWND owner, const wchar_t* title, DWORD style, DWORD exStyle, int x, int y, int width,
                            int height) {
  WNDCLASSEXW wc = {sizeof(wc)};
  if (!GetClassInfoExW(Instance(), GetWindowClassName(), &wc)) {
    wc = {sizeof(wc)};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = Instance();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = GetWindowClassName();
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  }
  HWND window = CreateWindowExW(exStyle, GetWindowClassName(), title, style, x, y, width, height, owner, nullptr,
                                Instance(), this);
  Utils::MarkStartup("window-created");
  return window;
}

WindowImplBase* WindowImplBase::FromHandle(HWND window) {
  // Only windows whose class procedure is ours carry the object pointer.
  if (!window ||
      static_cast<ULONG_PTR>(GetClassLongPtrW(window, GCLP_WNDPROC)) != reinterpret_cast<ULONG_PTR>(WindowProc))
    return nullptr;
  return reinterpret_cast<WindowImplBase*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT CALLBACK WindowImplBase::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowImplBase* self = nullptr;
  if (message == WM_NCCREATE) {
    self = static_cast<WindowImplBase*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<WindowImplBase*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    const LRESULT result = self->HandleMessage(message, wParam, lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->window_ = nullptr;
    self->OnFinalMessage(window);
    return result;
  }
  return self->HandleMessage(message, wParam, lParam);
}

namespace {

// The bytes of the module's "SKINRES" resource (valid as long as the module).
bool FindSkinResource(int resourceId, const void** data, DWORD* size) {
  HMODULE module = Instance();
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"SKINRES");
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  *size = found ? SizeofResource(module, found) : 0;
  *data = loaded ? LockResource(loaded) : nullptr;
  if (*data && *size) return true;
  OV_LOGS(L"skin resource %d is missing or empty", resourceId);
  return false;
}

}  // namespace

void PrefetchSkinArchive(int resourceId) {
  const void* data = nullptr;
  DWORD size = 0;
  if (!IsArchiveRegistered() && FindSkinResource(resourceId, &data, &size)) PrefetchArchive(data, size);
}

bool WindowImplBase::LoadSkinArchive() {
  if (IsArchiveRegistered()) return true;
  const void* data = nullptr;
  DWORD size = 0;
  if (!FindSkinResource(GetResourceID(), &data, &size)) return false;
  // The archive keeps its own unpacked copies: the resource bytes are only
  // read here, once per process.
  return OpenRegisteredArchive(data, size);
}

LRESULT WindowImplBase::OnCreate() {
  manager_.Init(window_);
  // Before the skin is built: its fonts are made at this DPI.
  manager_.SetDpi(WindowDpi(window_));
  manager_.AddNotifier(this);
  Markup markup;
  const std::wstring file = GetSkinFolder() + GetSkinFile();
  bool loaded = false;
  if (GetResourceType() == kSkinFromArchive) {
    if (!LoadSkinArchive()) return 0;  // no resource: an empty window
    const Utils::StartupStep step("skin-parse");
    loaded = markup.LoadFromArchive(file, TextEncoding::kUtf8);
  } else {
    const Utils::StartupStep step("skin-parse");
    loaded = markup.LoadFromFile(ResourcePath() + file, TextEncoding::kUtf8);
  }
  Control* root = nullptr;
  if (loaded) {
    const Utils::StartupStep step("skin-build");
    root = BuildControls(*markup.Root(), manager_, this);
  }
  if (!root) {
    ReportSkinFailure(file, loaded ? L"no control in the skin" : markup.ErrorMessage());
    return 0;
  }
  manager_.AttachRoot(root);
  const SIZE size = manager_.InitSize();
  if (size.cx > 0 && size.cy > 0)
    SetWindowPos(window_, nullptr, 0, 0, manager_.Scale(size.cx), manager_.Scale(size.cy),
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
  CenterWindow();  // before the first show, so the window never flashes at the default place
  ApplyRoundCorner();
  const Utils::StartupStep step("init-window");
  InitWindow();
  manager_.FocusDefault();
  return 0;
}

void WindowImplBase::ApplyRoundCorner() {
  const SIZE round = manager_.RoundCorner();
  if (!manager_.GetWindowAttribute(L"roundcorner") || IsIconic(window_)) return;
  RECT r;
  GetWindowRect(window_, &r);
  HRGN region = CreateRoundRectRgn(0, 0, r.right - r.left + 1, r.bottom - r.top + 1, manager_.Scale(round.cx),
                                   manager_.Scale(round.cy));
  SetWindowRgn(window_, region, TRUE);  // the window owns the region now
}

LRESULT WindowImplBase::MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  if (message == WM_KEYDOWN && wParam == VK_ESCAPE) {
    handled = true;
    Close(IDCANCEL);
  }
  return 0;
}

LRESULT WindowImplBase::HandleCustomMessage(UINT, WPARAM, LPARAM, bool& handled) {
  handled = false;
  return 0;
}

LRESULT WindowImplBase::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  bool handled = false;
  LRESULT result = MessageHandler(message, wParam, lParam, handled);
  if (handled) return result;
  switch (message) {
    case WM_CREATE:
      return OnCreate();
    case WM_CLOSE:
      // The owner comes back before this window goes, so Windows does not
      // hand the activation to another program.
      if (modalOwner_) {
        EnableWindow(modalOwner_, TRUE);
        SetFocus(modalOwner_);
      }
      break;
    case WM_NCCALCSIZE:
      if (wParam) return 0;  // the client area is the whole window: the skin draws the frame
      break;
    case WM_NCACTIVATE:
      if (!IsIconic(window_)) return wParam == 0 ? TRUE : FALSE;
      break;
    case WM_NCPAINT:
      return 0;
    case WM_NCHITTEST: {
      POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ScreenToClient(window_, &pt);
      RECT client;
      GetClientRect(window_, &client);
      const RECT c = manager_.Scale(manager_.CaptionRect());
      const RECT caption = {client.left + c.left, client.top + c.top, client.right - c.right, client.top + c.bottom};
      if (PtInRect(&caption, pt) && !manager_.FindControlAt(pt)) return HTCAPTION;
      return HTCLIENT;
    }
    case WM_SIZE:
      ApplyRoundCorner();
      break;
    case WM_DPICHANGED: {
      // Moved to a monitor of another DPI (per-monitor awareness): new fonts
      // and layout, and the rectangle Windows suggests, which keeps the
      // window under the pointer while it is dragged across. The resize
      // lays out, rounds the corners and redraws the shadow.
      manager_.SetDpi(LOWORD(wParam));
      const RECT* r = reinterpret_cast<const RECT*>(lParam);
      if (r)
        SetWindowPos(window_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
      InvalidateRect(window_, nullptr, FALSE);
      return 0;
    }
    case WM_GETOBJECT:
      if (const LRESULT object = accessible_.Answer(manager_, window_, wParam, lParam)) return object;
      break;
    case kAccessibleActionMessage: {
      // A reader's default action, run after its call has returned.
      auto* control = reinterpret_cast<Control*>(wParam);
      if (!manager_.IsLive(control) || !control->IsVisible() || !control->IsEnabled()) return 0;
      if (auto* button = static_cast<Button*>(control->GetInterface(L"Button"))) button->Activate();
      return 0;
    }
    case WM_NCDESTROY:
      accessible_.Disconnect();
      break;
    default:
      break;
  }
  result = HandleCustomMessage(message, wParam, lParam, handled);
  if (handled) return result;
  if (manager_.MessageHandler(message, wParam, lParam, &result)) return result;
  return DefWindowProcW(window_, message, wParam, lParam);
}

void WindowImplBase::Notify(skin::Notify& msg) {
  if (msg.type == L"click") OnClick(msg);
}

void WindowImplBase::OnClick(skin::Notify& msg) {
  if (!msg.sender) return;
  const std::wstring& name = msg.sender->GetName();
  if (name == L"closebtn")
    Close(IDOK);
  else if (name == L"minbtn")
    SendMessageW(window_, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  else if (name == L"maxbtn")
    SendMessageW(window_, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  else if (name == L"restorebtn")
    SendMessageW(window_, WM_SYSCOMMAND, SC_RESTORE, 0);
}

void WindowImplBase::Close(UINT code) {
  if (window_ && IsWindow(window_)) PostMessageW(window_, WM_CLOSE, code, 0);
}

void WindowImplBase::ShowWindow(bool show, bool activate) {
  if (window_) ::ShowWindow(window_, show ? (activate ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
}

void WindowImplBase::CenterWindow() {
  if (!window_) return;
  RECT dlg;
  GetWindowRect(window_, &dlg);
  const int w = dlg.right - dlg.left, h = dlg.bottom - dlg.top;
  HWND owner = GetWindow(window_, GW_OWNER);
  MONITORINFO mi = {sizeof(mi)};
  GetMonitorInfoW(MonitorFromWindow(owner ? owner : window_, MONITOR_DEFAULTTONEAREST), &mi);
  const RECT work = mi.rcWork;
  RECT center = work;
  if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &center);
  int x = (center.left + center.right) / 2 - w / 2;
  int y = (center.top + center.bottom) / 2 - h / 2;
  x = std::max<int>(work.left, std::min<int>(x, work.right - w));
  y = std::max<int>(work.top, std::min<int>(y, work.bottom - h));
  SetWindowPos(window_, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

UINT WindowImplBase::ShowModal() {
  HWND window = window_;
  if (!window) return 0;
  HWND owner = GetWindow(window, GW_OWNER);
  ::ShowWindow(window, SW_SHOWNORMAL);
  Utils::MarkStartup("window-shown");
  if (owner) {
    modalOwner_ = owner;
    EnableWindow(owner, FALSE);
  }
  MSG msg;
  while (IsWindow(window)) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      PostQuitMessage(got == 0 ? static_cast<int>(msg.wParam) : 0);  // for the loop around this one
      break;
    }
    if (msg.message == WM_CLOSE && msg.hwnd == window && owner) {
      EnableWindow(owner, TRUE);
      SetFocus(owner);
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  // Whatever way the window went (Alt+F4, DestroyWindow, WM_QUIT), the
  // owner must not stay disabled.
  if (owner && IsWindow(owner) && !IsWindowEnabled(owner)) EnableWindow(owner, TRUE);
  modalOwner_ = nullptr;
  return 0;
}

}  // namespace skin
