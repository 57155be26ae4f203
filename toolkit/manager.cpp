#include "toolkit/manager.h"

#include "toolkit/accessible.h"

#include <windowsx.h>

#include <algorithm>

#include "platform/startup_marks.h"
#include "toolkit/attributes.h"
#include "toolkit/controls.h"

namespace skin {

PaintManager::PaintManager() = default;

PaintManager::~PaintManager() {
  Control* root = root_;
  root_ = nullptr;
  delete root;  // controls reap themselves: timers and pointers go first
  if (backDc_) SelectObject(backDc_.get(), backOld_);
}

void PaintManager::Init(HWND window) { window_ = window; }

void PaintManager::AttachRoot(Control* root) {
  delete root_;
  root_ = root;
  if (root_) root_->SetManager(this, nullptr, true);
  needUpdate_ = true;
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

Control* PaintManager::FindControl(std::wstring_view name) const {
  return root_ && !name.empty() ? root_->FindByName(name) : nullptr;
}

Control* PaintManager::FindControlAt(POINT pt) const { return root_ ? root_->FindAt(pt) : nullptr; }

bool PaintManager::IsLive(const Control* control) const {
  if (!root_ || !control) return false;
  std::vector<Control*> all;
  root_->Collect(&all);
  return std::find(all.begin(), all.end(), control) != all.end();
}

UniqueFont PaintManager::MakeFont(const Font& entry, int dpi) {
  const Utils::StartupStep step("font");
  // Rounded down, unlike edges: a text must not outgrow the box the skin
  // gives it. Several skin texts fill theirs exactly at 96 DPI; 14 px at 120
  // DPI rounded up to 18 (not 17.5) clipped three of them.
  const int height = entry.size * dpi / kBaseDpi;
  return UniqueFont(CreateFontW(-height, 0, 0, 0, entry.bold ? FW_BOLD : FW_NORMAL, entry.italic, entry.underline,
                                FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                DEFAULT_PITCH, entry.face.substr(0, LF_FACESIZE - 1).c_str()));
}

void PaintManager::AddFont(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic,
                           bool isDefault) {
  Font entry{UniqueFont(), face, std::clamp(size, 1, 500), bold, underline, italic};
  entry.font = MakeFont(entry, dpi_);
  if (!entry.font) return;
  auto old = fonts_.find(id);
  if (old != fonts_.end() && defaultFont_ == old->second.font.get()) defaultFont_ = nullptr;
  if (isDefault || !defaultFont_) defaultFont_ = entry.font.get();
  fonts_[id] = std::move(entry);  // deletes a font replaced under the same id
}

void PaintManager::SetDpi(int dpi) {
  dpi = std::clamp(dpi, kBaseDpi / 2, kBaseDpi * 8);
  if (dpi == dpi_) return;
  dpi_ = dpi;
  for (auto& [id, entry] : fonts_) {
    UniqueFont font = MakeFont(entry, dpi_);
    if (!font) continue;  // the old size beats no text
    if (defaultFont_ == entry.font.get()) defaultFont_ = font.get();
    entry.font = std::move(font);
  }
  if (root_) {
    std::vector<Control*> all;
    root_->Collect(&all);
    for (Control* c : all) c->OnDpiChanged();
  }
  needUpdate_ = true;
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

HFONT PaintManager::GetFont(int id) const {
  auto it = fonts_.find(id);
  if (it != fonts_.end()) return it->second.font.get();
  if (!defaultFont_) {
    auto* self = const_cast<PaintManager*>(this);
    self->defaultFont_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  }
  return defaultFont_;
}

int PaintManager::MeasureTextWidth(HDC dc, const std::wstring& text, int font, UINT style) const {
  RECT r = {0, 0, 10000, 10000};
  HGDIOBJ old = SelectObject(dc, GetFont(font));
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              (style & ~DT_WORDBREAK) | DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX);
  SelectObject(dc, old);
  return UnscaleCeil(r.right - r.left, dpi_);
}

void PaintManager::SetWindowAttribute(std::wstring_view name, std::wstring_view value) {
  windowAttributes_.emplace_back(name, value);
  uint32_t color = 0;
  if (name == L"size") {
    const SIZE s = ParseSize(value);
    initSize_ = SIZE{std::clamp<LONG>(s.cx, 0, 10000), std::clamp<LONG>(s.cy, 0, 10000)};
  } else if (name == L"caption") {
    const RECT r = ParseRect(value);
    caption_ = RECT{std::clamp<LONG>(r.left, 0, 10000), std::clamp<LONG>(r.top, 0, 10000),
                    std::clamp<LONG>(r.right, 0, 10000), std::clamp<LONG>(r.bottom, 0, 10000)};
  } else if (name == L"roundcorner") {
    const SIZE s = ParseSize(value);
    roundCorner_ = SIZE{std::clamp<LONG>(s.cx, 0, 1000), std::clamp<LONG>(s.cy, 0, 1000)};
  } else if (name == L"defaulttextcolor" && ParseColor(value, &color)) {
    defaultTextColor_ = color;
  } else if (name == L"disabledfontcolor" && ParseColor(value, &color)) {
    defaultDisabledColor_ = color;
  } else if (name == L"focuscolor" && ParseColor(value, &color)) {
    focusColor_ = color;
  }
}

COLORREF PaintManager::FocusColor() const {
  // A high-contrast theme chooses the colours the user can see.
  HIGHCONTRASTW contrast = {sizeof(contrast)};
  if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
      (contrast.dwFlags & HCF_HIGHCONTRASTON))
    return GetSysColor(COLOR_HIGHLIGHT);
  return RGB((focusColor_ >> 16) & 0xFF, (focusColor_ >> 8) & 0xFF, focusColor_ & 0xFF);
}

Control* PaintManager::DefaultControl() const {
  if (!root_) return nullptr;
  std::vector<Control*> all;
  root_->Collect(&all);
  for (Control* c : all)
    if (c->IsDefault() && c->IsVisible() && c->IsEnabled()) return c;
  return nullptr;
}

void PaintManager::FocusDefault() {
  if (Control* c = DefaultControl(); c && !focus_) SetFocus(c);
}

const std::wstring* PaintManager::GetWindowAttribute(std::wstring_view name) const {
  for (const auto& [key, value] : windowAttributes_)
    if (key == name) return &value;
  return nullptr;
}

void PaintManager::SetFocus(Control* control, bool fromKeyboard) {
  if (control && (!control->IsVisible() || !control->IsEnabled())) return;
  // The mark lies outside its control: a change of it repaints the window.
  if (focusCue_ && focus_ && window_ && control != focus_) InvalidateRect(window_, nullptr, FALSE);
  // Once the keyboard is in use the mark stays, also on a control the
  // program focuses, until the mouse is used.
  if (fromKeyboard) focusCue_ = true;
  if (control == focus_) return;
  Control* old = focus_;
  focus_ = control;
  if (old) {
    Event e{EventType::kKillFocus};
    old->DoEvent(e);
  }
  if (control) {
    if (window_ && ::GetFocus() != window_) ::SetFocus(window_);
    Event e{EventType::kSetFocus};
    control->DoEvent(e);
    AccessibleRoot::Raise(*this, EVENT_OBJECT_FOCUS, control);
  }
}

void PaintManager::MoveFocus(bool forward) {
  if (!root_) return;
  std::vector<Control*> all;
  root_->Collect(&all);
  std::vector<Control*> order;
  for (Control* c : all)
    if (c->WantsFocus() && c->IsVisible() && c->IsEnabled()) order.push_back(c);
  if (order.empty()) return;
  auto it = std::find(order.begin(), order.end(), focus_);
  size_t next;
  if (it == order.end())
    next = forward ? 0 : order.size() - 1;
  else {
    const size_t at = static_cast<size_t>(it - order.begin());
    next = forward ? (at + 1) % order.size() : (at + order.size() - 1) % order.size();
  }
  SetFocus(order[next], true);
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

bool PaintManager::SetTimer(Control* control, UINT id, UINT elapse) {
  if (!window_ || !control) return false;
  for (Timer& t : timers_) {
    if (t.control == control && t.id == id) return ::SetTimer(window_, t.windowTimer, elapse, nullptr) != 0;  // restart
  }
  const UINT_PTR windowTimer = nextTimer_++;
  if (!::SetTimer(window_, windowTimer, elapse, nullptr)) return false;
  timers_.push_back(Timer{control, id, windowTimer});
  return true;
}

void PaintManager::KillTimer(Control* control, UINT id) {
  for (auto it = timers_.begin(); it != timers_.end(); ++it) {
    if (it->control == control && it->id == id) {
      if (window_) ::KillTimer(window_, it->windowTimer);
      timers_.erase(it);
      return;
    }
  }
}

void PaintManager::AddNotifier(INotifyReceiver* receiver) {
  if (std::find(notifiers_.begin(), notifiers_.end(), receiver) == notifiers_.end()) notifiers_.push_back(receiver);
}

void PaintManager::RemoveNotifier(INotifyReceiver* receiver) {
  notifiers_.erase(std::remove(notifiers_.begin(), notifiers_.end(), receiver), notifiers_.end());
}

void PaintManager::SendNotify(Control* sender, const std::wstring& type, WPARAM wParam, LPARAM lParam, bool queued) {
  auto* msg = new Notify{type, sender, wParam, lParam, {}, GetTickCount()};
  if (queued) {
    // May run on any thread: touches nothing of the manager but the handle.
    if (!window_ || !PostMessageW(window_, kQueuedNotifyMessage, 0, reinterpret_cast<LPARAM>(msg))) delete msg;
    return;
  }
  if (window_) {
    GetCursorPos(&msg->pt);
    ScreenToClient(window_, &msg->pt);
  }
  const std::vector<INotifyReceiver*> receivers = notifiers_;  // a receiver may remove itself
  for (INotifyReceiver* r : receivers) r->Notify(*msg);
  delete msg;
}

void PaintManager::DeliverQueued(Notify* notify) {
  // The sender may have been destroyed since the notification was queued.
  if (notify->sender == nullptr || IsLive(notify->sender)) {
    const std::vector<INotifyReceiver*> receivers = notifiers_;
    for (INotifyReceiver* r : receivers) r->Notify(*notify);
  }
  delete notify;
}

void PaintManager::DropQueuedNotifications() {
  MSG msg;
  while (window_ && PeekMessageW(&msg, window_, kQueuedNotifyMessage, kQueuedNotifyMessage, PM_REMOVE))
    delete reinterpret_cast<Notify*>(msg.lParam);
}

void PaintManager::Invalidate(const RECT& rect) {
  if (window_) InvalidateRect(window_, &rect, FALSE);
}

void PaintManager::ReapControl(Control* control) {
  if (hover_ == control) hover_ = nullptr;
  if (pushed_ == control) pushed_ = nullptr;
  if (focus_ == control) focus_ = nullptr;
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->control == control) {
      if (window_) ::KillTimer(window_, it->windowTimer);
      it = timers_.erase(it);
    } else {
      ++it;
    }
  }
}

void PaintManager::Render(HDC dc, const RECT& client, const RECT& paint) {
  if (!root_) return;
  if (needUpdate_) {
    needUpdate_ = false;
    root_->SetPos(RECT{UnscaleFromDpi(client.left, dpi_), UnscaleFromDpi(client.top, dpi_),
                       UnscaleFromDpi(client.right, dpi_), UnscaleFromDpi(client.bottom, dpi_)});
  }
  root_->DoPaint(dc, paint);
  // The focus mark appears after keyboard use only, as in Windows.
  if (focus_ && focusCue_ && focus_->IsVisible()) focus_->PaintFocusMark(dc, FocusColor());
}

void PaintManager::Paint() {
  const Utils::StartupStep step("paint");
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window_, &ps);
  RECT client;
  GetClientRect(window_, &client);
  const SIZE size = {client.right, client.bottom};
  if (size.cx > 0 && size.cy > 0) {
    // One back buffer per window, kept until the size changes: no flicker
    // and no allocation per frame (the animation repaints every 30 ms).
    if (!backDc_ || size.cx != backSize_.cx || size.cy != backSize_.cy) {
      if (backDc_) SelectObject(backDc_.get(), backOld_);
      backBitmap_.reset();
      backDc_.reset();
      BITMAPINFO bi = {};
      bi.bmiHeader = {sizeof(bi.bmiHeader), size.cx, -size.cy, 1, 32, BI_RGB};
      void* bits = nullptr;
      backDc_.reset(CreateCompatibleDC(dc));
      backBitmap_.reset(CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
      backOld_ = SelectObject(backDc_.get(), backBitmap_.get());
      backSize_ = size;
    }
    const RECT& p = ps.rcPaint;
    HDC back = backDc_.get();
    const int saved = SaveDC(back);
    IntersectClipRect(back, p.left, p.top, p.right, p.bottom);
    FillRect(back, &p, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    Render(back, client, p);
    RestoreDC(back, saved);
    BitBlt(dc, p.left, p.top, p.right - p.left, p.bottom - p.top, back, p.left, p.top, SRCCOPY);
  }
  EndPaint(window_, &ps);
}

bool PaintManager::MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  *result = 0;
  switch (message) {
    case WM_ERASEBKGND:
      *result = 1;  // the back buffer paints everything
      return true;
    case WM_PAINT:
      Paint();
      return true;
    case WM_SIZE:
      needUpdate_ = true;
      if (window_) InvalidateRect(window_, nullptr, FALSE);
      return false;
    case WM_TIMER:
      for (const Timer& t : timers_) {
        if (t.windowTimer != wParam) continue;
        Control* control = t.control;
        Event e{EventType::kTimer};
        e.wParam = t.id;
        control->DoEvent(e);  // may kill this timer: the loop ends here
        return true;
      }
      return false;
    case WM_MOUSEMOVE: {
      const POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (!trackingLeave_ && window_) {
        TRACKMOUSEEVENT tme = {sizeof(tme), TME_LEAVE, window_, 0};
        trackingLeave_ = TrackMouseEvent(&tme) != 0;
      }
      Control* over = FindControlAt(pt);
      if (pushed_) over = PtInRect(&pushed_->GetPos(), pt) ? pushed_ : nullptr;  // captured: only it lights up
      if (over != hover_) {
        if (hover_) {
          Event e{EventType::kMouseLeave, pt};
          hover_->DoEvent(e);
        }
        hover_ = over;
        if (hover_) {
          Event e{EventType::kMouseEnter, pt};
          hover_->DoEvent(e);
        }
      }
      return true;
    }
    case WM_MOUSELEAVE:
      trackingLeave_ = false;
      if (hover_ && !pushed_) {
        Event e{EventType::kMouseLeave};
        Control* old = hover_;
        hover_ = nullptr;
        old->DoEvent(e);
      }
      return true;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      const POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      Control* target = FindControlAt(pt);
      if (focusCue_ && window_) InvalidateRect(window_, nullptr, FALSE);
      focusCue_ = false;
      SetFocus(target && target->WantsFocus() ? target : nullptr);
      if (!target || !target->IsEnabled()) return true;
      pushed_ = target;
      if (window_) SetCapture(window_);
      Event e{EventType::kButtonDown, pt};
      target->DoEvent(e);
      return true;
    }
    case WM_LBUTTONUP: {
      const POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      Control* target = pushed_;
      pushed_ = nullptr;
      if (GetCapture() == window_) ReleaseCapture();
      if (target) {
        Event e{EventType::kButtonUp, pt};
        target->DoEvent(e);  // may close the window or destroy controls
      }
      return true;
    }
    case WM_CAPTURECHANGED:
      if (pushed_ && reinterpret_cast<HWND>(lParam) != window_) {
        Event e{EventType::kButtonUp, {-1, -1}};  // outside: no click
        Control* target = pushed_;
        pushed_ = nullptr;
        target->DoEvent(e);
      }
      return false;
    case WM_KEYDOWN:
      if (wParam == VK_TAB) {
        MoveFocus(GetKeyState(VK_SHIFT) >= 0);
        return true;
      }
      // Enter goes to the default button unless the focused control takes
      // it (a button presses itself).
      if (wParam == VK_RETURN && (!focus_ || !focus_->GetInterface(L"Button"))) {
        if (Control* target = DefaultControl()) {
          Event e{EventType::kKeyDown};
          e.wParam = wParam;
          target->DoEvent(e);  // may close the window
          return true;
        }
      }
      if (focus_) {
        Event e{EventType::kKeyDown};
        e.wParam = wParam;
        focus_->DoEvent(e);
        return true;
      }
      return false;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT) {
        ::SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        *result = TRUE;
        return true;
      }
      return false;
    case WM_COMMAND:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      HWND child = message == WM_COMMAND ? reinterpret_cast<HWND>(lParam) : reinterpret_cast<HWND>(lParam);
      if (!child || !root_) return false;
      std::vector<Control*> all;
      root_->Collect(&all);
      for (Control* c : all) {
        auto* edit = static_cast<Edit*>(c->GetInterface(L"Edit"));
        if (!edit || edit->native_ != child) continue;
        if (message == WM_COMMAND) {
          if (HIWORD(wParam) == EN_CHANGE) SendNotify(edit, L"textchanged");
          return true;
        }
        const uint32_t bk = edit->nativeBkColor_;
        const uint32_t fg = edit->textColor_ ? edit->textColor_ : defaultTextColor_;
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, RGB((fg >> 16) & 0xFF, (fg >> 8) & 0xFF, fg & 0xFF));
        ::SetBkColor(dc, RGB((bk >> 16) & 0xFF, (bk >> 8) & 0xFF, bk & 0xFF));
        if (!edit->nativeBrush_)
          edit->nativeBrush_.reset(CreateSolidBrush(RGB((bk >> 16) & 0xFF, (bk >> 8) & 0xFF, bk & 0xFF)));
        *result = reinterpret_cast<LRESULT>(edit->nativeBrush_.get());
        return true;
      }
      return false;
    }
    case kQueuedNotifyMessage:
      DeliverQueued(reinterpret_cast<Notify*>(lParam));
      return true;
    case WM_NCDESTROY:
      DropQueuedNotifications();
      for (const Timer& t : timers_) ::KillTimer(window_, t.windowTimer);
      timers_.clear();
      return false;
    default:
      return false;
  }
}

}  // namespace skin
