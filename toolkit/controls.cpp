#include "toolkit/controls.h"

#include "toolkit/accessible.h"

#include <algorithm>

#include "toolkit/attributes.h"
#include "toolkit/image.h"
#include "toolkit/manager.h"

namespace skin {

Control* Label::GetInterface(std::wstring_view name) { return name == L"Label" ? this : Control::GetInterface(name); }

void Label::PaintText(HDC dc) {
  const uint32_t color =
      IsEnabled() ? textColor_ : (disabledTextColor_ ? disabledTextColor_ : manager_->DefaultDisabledColor());
  DrawText(dc, GetText(), pos_, color, textStyle_);
}

Text::Text() { textStyle_ = DT_WORDBREAK | DT_LEFT | DT_TOP; }

Control* Text::GetInterface(std::wstring_view name) { return name == L"Text" ? this : Label::GetInterface(name); }

// ---------------------------------------------------------------------------

Button::Button() { textStyle_ = DT_SINGLELINE | DT_VCENTER | DT_CENTER; }

Control* Button::GetInterface(std::wstring_view name) { return name == L"Button" ? this : Label::GetInterface(name); }

void Button::DoEvent(Event& event) {
  switch (event.type) {
    case EventType::kMouseEnter:
      hot_ = true;
      Invalidate();
      return;
    case EventType::kMouseLeave:
      hot_ = false;
      Invalidate();
      return;
    case EventType::kButtonDown:
      if (!IsEnabled()) return;
      pushed_ = true;
      Invalidate();
      return;
    case EventType::kButtonUp: {
      const bool click = pushed_ && IsEnabled() && PtInRect(&pos_, event.pt);
      pushed_ = false;
      Invalidate();
      if (click) Activate();
      return;
    }
    case EventType::kKeyDown:
      if ((event.wParam == VK_RETURN || event.wParam == VK_SPACE) && IsEnabled()) Activate();
      return;
    case EventType::kSetFocus:
    case EventType::kKillFocus:
      Invalidate();
      return;
    default:
      Label::DoEvent(event);
  }
}

void Button::Activate() {
  if (manager_ && IsEnabled()) manager_->SendNotify(this, L"click");
}

void Button::SetAttribute(std::wstring_view name, std::wstring_view value) {
  uint32_t color = 0;
  if (name == L"normalimage")
    normalImage_ = value;
  else if (name == L"hotimage")
    hotImage_ = value;
  else if (name == L"pushedimage")
    pushedImage_ = value;
  else if (name == L"disabledimage")
    disabledImage_ = value;
  else if (name == L"focusedimage")
    focusedImage_ = value;
  else if (name == L"hottextcolor" && ParseColor(value, &color))
    hotTextColor_ = color;
  else if (name == L"pushedtextcolor" && ParseColor(value, &color))
    pushedTextColor_ = color;
  else if (name == L"hotbkcolor" && ParseColor(value, &color))
    hotBkColor_ = color;
  else if (name == L"pushedbkcolor" && ParseColor(value, &color))
    pushedBkColor_ = color;
  else
    Label::SetAttribute(name, value);
}

void Button::PaintStatusImage(HDC dc) {
  // A state without its own image falls back to the normal one (the
  // shipped skins have no disabled images).
  const bool down = pushed_ && hot_;
  if (!IsEnabled() && !disabledImage_.empty() && DrawImage(dc, disabledImage_)) return;
  if (IsEnabled() && down && pushedBkColor_)
    FillBackground(dc, pushedBkColor_);
  else if (IsEnabled() && hot_ && hotBkColor_)
    FillBackground(dc, hotBkColor_);
  if (IsEnabled() && down && !pushedImage_.empty() && DrawImage(dc, pushedImage_)) return;
  if (IsEnabled() && hot_ && !hotImage_.empty() && DrawImage(dc, hotImage_)) return;
  if (IsFocused() && !focusedImage_.empty() && DrawImage(dc, focusedImage_)) return;
  if (!normalImage_.empty()) DrawImage(dc, normalImage_);
}

void Button::PaintText(HDC dc) {
  uint32_t color = textColor_;
  if (!IsEnabled())
    color = disabledTextColor_ ? disabledTextColor_ : manager_->DefaultDisabledColor();
  else if (pushed_ && hot_ && pushedTextColor_)
    color = pushedTextColor_;
  else if (hot_ && hotTextColor_)
    color = hotTextColor_;
  DrawText(dc, GetText(), pos_, color, textStyle_);
}

// ---------------------------------------------------------------------------

Control* Option::GetInterface(std::wstring_view name) { return name == L"Option" ? this : Button::GetInterface(name); }

void Option::Selected(bool selected, bool notify) {
  if (selected_ == selected) return;
  selected_ = selected;
  if (selected_ && !group_.empty() && manager_ && manager_->GetRoot()) {
    std::vector<Control*> all;
    manager_->GetRoot()->Collect(&all);
    for (Control* c : all) {
      auto* other = static_cast<Option*>(c->GetInterface(L"Option"));
      if (other && other != this && other->group_ == group_) other->Selected(false, notify);
    }
  }
  Invalidate();
  if (manager_) AccessibleRoot::Raise(*manager_, EVENT_OBJECT_STATECHANGE, this);
  if (notify && manager_) manager_->SendNotify(this, L"selectchanged");
}

void Option::Activate() {
  if (!IsEnabled()) return;
  Button::Activate();
  Selected(group_.empty() ? !selected_ : true);
}

void Option::SetAttribute(std::wstring_view name, std::wstring_view value) {
  uint32_t color = 0;
  if (name == L"group")
    group_ = value;
  else if (name == L"selected")
    selected_ = ParseBool(value);
  else if (name == L"selectedimage")
    selectedImage_ = value;
  else if (name == L"selectedhotimage")
    selectedHotImage_ = value;
  else if (name == L"selectedtextcolor" && ParseColor(value, &color))
    selectedTextColor_ = color;
  else
    Button::SetAttribute(name, value);
}

void Option::PaintStatusImage(HDC dc) {
  if (selected_) {
    if (hot_ && !selectedHotImage_.empty() && DrawImage(dc, selectedHotImage_)) return;
    if (!selectedImage_.empty() && DrawImage(dc, selectedImage_)) return;
  }
  Button::PaintStatusImage(dc);
}

void Option::PaintText(HDC dc) {
  if (selected_ && selectedTextColor_ && IsEnabled()) {
    DrawText(dc, GetText(), pos_, selectedTextColor_, textStyle_);
    return;
  }
  Button::PaintText(dc);
}

Control* CheckBox::GetInterface(std::wstring_view name) {
  return name == L"CheckBox" ? this : Option::GetInterface(name);
}

// ---------------------------------------------------------------------------

Edit::~Edit() {
  if (native_) DestroyWindow(native_);
}

Control* Edit::GetInterface(std::wstring_view name) { return name == L"Edit" ? this : Label::GetInterface(name); }

std::wstring Edit::GetText() const {
  if (!native_) return Label::GetText();
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(native_)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(native_, text.data(), static_cast<int>(text.size()))));
  return text;
}

void Edit::SetText(const std::wstring& text) {
  Label::SetText(text);
  if (native_) SetWindowTextW(native_, text.c_str());
}

RECT Edit::NativeRect() const {
  RECT r = {pos_.left + Scaled(textPadding_.left), pos_.top + Scaled(textPadding_.top),
            pos_.right - Scaled(textPadding_.right), pos_.bottom - Scaled(textPadding_.bottom)};
  // A single-line EDIT draws at its top: centre a box one line high.
  const int line = 4 + [&] {
    const UniqueWindowDc window = GetWindowDc(manager_->GetHWND());
    HDC dc = window.get().dc;
    HGDIOBJ old = SelectObject(dc, manager_->GetFont(font_));
    TEXTMETRICW tm = {};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    return static_cast<int>(tm.tmHeight);
  }();
  if (r.bottom - r.top > line) {
    r.top += (r.bottom - r.top - line) / 2;
    r.bottom = r.top + line;
  }
  return r;
}

void Edit::BeginEdit() {
  if (native_ || !manager_ || !manager_->GetHWND() || !IsEnabled()) return;
  const RECT r = NativeRect();
  DWORD style = WS_CHILD | ES_AUTOHSCROLL;
  if (password_) style |= ES_PASSWORD;
  if (readOnly_) style |= ES_READONLY;
  native_ = CreateWindowExW(0, L"EDIT", Label::GetText().c_str(), style, r.left, r.top, r.right - r.left,
                            r.bottom - r.top, manager_->GetHWND(), nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!native_) return;
  SendMessageW(native_, WM_SETFONT, reinterpret_cast<WPARAM>(manager_->GetFont(font_)), FALSE);
  SendMessageW(native_, EM_LIMITTEXT, static_cast<WPARAM>(maxChars_), 0);
  SetWindowLongPtrW(native_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  nativeDefault_ =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrW(native_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NativeProc)));
  const int length = GetWindowTextLengthW(native_);
  SendMessageW(native_, EM_SETSEL, static_cast<WPARAM>(length), length);
  ShowWindow(native_, SW_SHOW);
  ::SetFocus(native_);
}

void Edit::EndEdit() {
  if (!native_) return;
  text_ = GetText();
  HWND native = native_;
  native_ = nullptr;  // first, so messages during destruction see no editor
  DestroyWindow(native);
  Invalidate();
}

LRESULT CALLBACK Edit::NativeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<Edit*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  const WNDPROC base = self ? self->nativeDefault_ : DefWindowProcW;
  if (self && self->native_ == window) {
    // Tab, Enter and Escape belong to the window (focus order, default
    // keys, the frame's key filter), not to the text.
    if (message == WM_KEYDOWN && (wParam == VK_TAB || wParam == VK_ESCAPE || wParam == VK_RETURN)) {
      return SendMessageW(::GetParent(window), WM_KEYDOWN, wParam, lParam);
    }
    if (message == WM_CHAR && (wParam == L'\t' || wParam == L'\r' || wParam == 27)) return 0;
  }
  return CallWindowProcW(base, window, message, wParam, lParam);
}

void Edit::DoEvent(Event& event) {
  if (event.type == EventType::kSetFocus) {
    BeginEdit();
    return;
  }
  if (event.type == EventType::kKillFocus) {
    EndEdit();
    return;
  }
  Label::DoEvent(event);
}

void Edit::SetInternVisible(bool visible) {
  Label::SetInternVisible(visible);
  if (!IsVisible()) EndEdit();
}

void Edit::SetPos(const RECT& pos) {
  Label::SetPos(pos);
  if (native_) {
    const RECT r = NativeRect();
    SetWindowPos(native_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void Edit::OnDpiChanged() {
  // The editor keeps the font it was given: hand it the remade one (the
  // next layout moves it).
  if (native_) SendMessageW(native_, WM_SETFONT, reinterpret_cast<WPARAM>(manager_->GetFont(font_)), TRUE);
}

void Edit::SetAttribute(std::wstring_view name, std::wstring_view value) {
  uint32_t color = 0;
  if (name == L"readonly")
    readOnly_ = ParseBool(value);
  else if (name == L"password")
    password_ = ParseBool(value);
  else if (name == L"maxchar")
    maxChars_ = std::clamp(ParseInt(value), 1, 32767);
  else if (name == L"nativebkcolor" && ParseColor(value, &color))
    nativeBkColor_ = color;
  else
    Label::SetAttribute(name, value);
}

void Edit::PaintText(HDC dc) {
  if (native_) return;  // the native editor shows the text
  std::wstring text = Label::GetText();
  if (password_) text.assign(text.size(), L'*');
  const uint32_t color =
      IsEnabled() ? textColor_ : (disabledTextColor_ ? disabledTextColor_ : manager_->DefaultDisabledColor());
  DrawText(dc, text, pos_, color, (textStyle_ | DT_SINGLELINE | DT_END_ELLIPSIS) & ~DT_WORDBREAK);
}

// ---------------------------------------------------------------------------

Control* Progress::GetInterface(std::wstring_view name) {
  return name == L"Progress" ? this : Label::GetInterface(name);
}

void Progress::SetValue(int value) {
  if (value_ == value) return;
  value_ = value;
  Invalidate();
  if (manager_) AccessibleRoot::Raise(*manager_, EVENT_OBJECT_VALUECHANGE, this);
}

void Progress::SetForeImage(const std::wstring& image) {
  foreImage_ = image;
  Invalidate();
}

void Progress::SetAttribute(std::wstring_view name, std::wstring_view value) {
  if (name == L"foreimage")
    foreImage_ = value;
  else if (name == L"min")
    min_ = ParseInt(value);
  else if (name == L"max")
    max_ = ParseInt(value);
  else if (name == L"value")
    value_ = ParseInt(value);
  else if (name == L"hor")
    horizontal_ = ParseBool(value);
  else if (name == L"isstretchfore")
    stretchFore_ = ParseBool(value);
  else
    Label::SetAttribute(name, value);
}

void Progress::PaintStatusImage(HDC dc) {
  if (foreImage_.empty() || max_ <= min_) return;
  const long long span = static_cast<long long>(max_) - min_;
  const long long done = std::clamp<long long>(static_cast<long long>(value_) - min_, 0, span);
  RECT part = pos_;
  if (horizontal_)
    part.right = pos_.left + static_cast<LONG>((pos_.right - pos_.left) * done / span);
  else
    part.top = pos_.bottom - static_cast<LONG>((pos_.bottom - pos_.top) * done / span);
  if (IsRectEmpty(&part)) return;
  if (stretchFore_) {
    DrawImageSpec(dc, part, foreImage_, manager_ ? manager_->Dpi() : kBaseDpi);
    return;
  }
  // Not stretched: the image spans the whole bar and is cut at the value.
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, part.left, part.top, part.right, part.bottom);
  DrawImage(dc, foreImage_);
  RestoreDC(dc, saved);
}

// ---------------------------------------------------------------------------

Control* Combo::GetInterface(std::wstring_view name) { return name == L"Combo" ? this : Button::GetInterface(name); }

bool Combo::SelectItem(int index, bool notify) {
  if (index < 0 || index >= GetCount()) return false;
  const int old = current_;
  current_ = index;
  Invalidate();
  if (notify && manager_) manager_->SendNotify(this, L"itemselect", static_cast<WPARAM>(index), old);
  return true;
}

std::wstring Combo::GetText() const {
  return current_ >= 0 && current_ < GetCount() ? items_[static_cast<size_t>(current_)] : Button::GetText();
}

void Combo::Activate() {
  if (!IsEnabled() || !manager_ || !manager_->GetHWND() || items_.empty()) return;
  Button::Activate();
  HMENU menu = CreatePopupMenu();
  for (size_t i = 0; i < items_.size(); ++i)
    AppendMenuW(menu, MF_STRING | (static_cast<int>(i) == current_ ? MF_CHECKED : 0), i + 1, items_[i].c_str());
  POINT pt = {pos_.left, pos_.bottom};
  ClientToScreen(manager_->GetHWND(), &pt);
  const int chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_NONOTIFY, pt.x, pt.y, 0,
                                    manager_->GetHWND(), nullptr);
  DestroyMenu(menu);
  if (chosen > 0) SelectItem(chosen - 1, true);
}

}  // namespace skin
