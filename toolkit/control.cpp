#include "toolkit/control.h"

#include "toolkit/accessible.h"

#include <algorithm>

#include "toolkit/attributes.h"
#include "toolkit/gdi_handles.h"
#include "toolkit/image.h"
#include "toolkit/manager.h"
#include "toolkit/resources.h"

namespace skin {
namespace {

// Skins are outside data: sizes and offsets are kept in a sane range so the
// arithmetic of layout and painting cannot overflow.
constexpr int kMaxExtent = 10000;
int Clamp(int v) { return std::clamp(v, -kMaxExtent, kMaxExtent); }
RECT ClampRect(RECT r) { return RECT{Clamp(r.left), Clamp(r.top), Clamp(r.right), Clamp(r.bottom)}; }
int ClampSize(int v) { return std::clamp(v, 0, kMaxExtent); }

bool Intersects(const RECT& a, const RECT& b) {
  RECT tmp;
  return IntersectRect(&tmp, &a, &b) != 0;
}

}  // namespace

Control::Control() = default;

Control::~Control() {
  if (manager_) manager_->ReapControl(this);
}

Control* Control::GetInterface(std::wstring_view name) { return name == L"Control" ? this : nullptr; }

void Control::SetManager(PaintManager* manager, Control* parent, bool init) {
  manager_ = manager;
  parent_ = parent;
  if (init && manager) DoInit();
}

Control* Control::FindByName(std::wstring_view name) { return name_ == name ? this : nullptr; }

Control* Control::FindAt(POINT pt) {
  if (!IsVisible() || !mouseEnabled_ || !PtInRect(&pos_, pt)) return nullptr;
  return WantsMouse() ? this : nullptr;
}

void Control::Collect(std::vector<Control*>* out) { out->push_back(this); }

std::wstring Control::GetText() const { return ResolveLanguageText(text_); }

void Control::SetText(const std::wstring& text) {
  if (text_ == text) return;
  text_ = text;
  Invalidate();
  if (manager_) AccessibleRoot::Raise(*manager_, EVENT_OBJECT_NAMECHANGE, this);
}

void Control::SetFont(int font) {
  font_ = font;
  Invalidate();
}

void Control::SetTextPadding(const RECT& padding) {
  textPadding_ = ClampRect(padding);
  Invalidate();
}

void Control::SetTextColor(uint32_t argb) {
  textColor_ = argb;
  Invalidate();
}

void Control::SetBkImage(const std::wstring& image) {
  if (bkImage_ == image) return;
  bkImage_ = image;
  Invalidate();
}

void Control::SetBkColor(uint32_t argb) {
  bkColor_ = argb;
  Invalidate();
}

void Control::SetVisible(bool visible) {
  if (visible_ == visible) return;
  const bool wasVisible = IsVisible();
  visible_ = visible;
  if (!IsVisible() && manager_ && IsFocused()) manager_->SetFocus(nullptr);
  if (wasVisible != IsVisible()) NeedParentUpdate();
}

void Control::SetInternVisible(bool visible) {
  internVisible_ = visible;
  if (!IsVisible() && manager_ && IsFocused()) manager_->SetFocus(nullptr);
}

void Control::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  if (!enabled_ && manager_ && IsFocused()) manager_->SetFocus(nullptr);
  Invalidate();
}

bool Control::IsFocused() const { return manager_ && manager_->GetFocus() == this; }

void Control::SetFocus() {
  if (manager_) manager_->SetFocus(this);
}

void Control::SetFixedWidth(int width) {
  fixedWidth_ = ClampSize(width);
  NeedParentUpdate();
}

void Control::SetFixedHeight(int height) {
  fixedHeight_ = ClampSize(height);
  NeedParentUpdate();
}

int Control::Scaled(int skinPixels) const { return manager_ ? manager_->Scale(skinPixels) : skinPixels; }

RECT Control::Scaled(const RECT& skinRect) const { return manager_ ? manager_->Scale(skinRect) : skinRect; }

void Control::SetPos(const RECT& pos) {
  layoutPos_ = pos;
  const RECT device = Scaled(pos);
  if (!EqualRect(&device, &pos_)) {
    Invalidate();
    pos_ = device;
  }
  Invalidate();
}

SIZE Control::EstimateSize(SIZE) const { return SIZE{fixedWidth_, fixedHeight_}; }

void Control::Invalidate() {
  if (manager_ && IsVisible()) manager_->Invalidate(pos_);
}

void Control::NeedParentUpdate() {
  if (!manager_) return;
  manager_->NeedUpdate();
  manager_->Invalidate(RECT{0, 0, kMaxExtent, kMaxExtent});
}

void Control::DoEvent(Event& event) {
  if (event.type == EventType::kTimer && manager_) manager_->SendNotify(this, L"timer", event.wParam);
}

void Control::SetAttribute(std::wstring_view name, std::wstring_view value) {
  uint32_t color = 0;
  if (name == L"name")
    name_ = value;
  else if (name == L"text")
    text_ = value;
  else if (name == L"tooltip")
    toolTip_ = value;
  else if (name == L"userdata")
    userData_ = value;
  else if (name == L"width")
    fixedWidth_ = ClampSize(ParseInt(value));
  else if (name == L"height")
    fixedHeight_ = ClampSize(ParseInt(value));
  else if (name == L"padding")
    padding_ = ClampRect(ParseRect(value));
  else if (name == L"float")
    float_ = ParseBool(value);
  else if (name == L"pos") {
    floatPos_ = ClampRect(ParseRect(value));
    float_ = true;
    fixedWidth_ = ClampSize(floatPos_.right - floatPos_.left);
    fixedHeight_ = ClampSize(floatPos_.bottom - floatPos_.top);
  } else if (name == L"visible")
    visible_ = ParseBool(value);
  else if (name == L"enabled")
    enabled_ = ParseBool(value);
  else if (name == L"mouse")
    mouseEnabled_ = ParseBool(value);
  else if (name == L"tabstop")
    tabStop_ = ParseBool(value);
  else if (name == L"default")
    default_ = ParseBool(value);
  else if (name == L"accname")
    accName_ = value;
  else if (name == L"accrole")
    accRole_ = value;
  else if (name == L"focusround") {
    const SIZE s = ParseSize(value);
    focusRound_ = SIZE{std::clamp<LONG>(s.cx, 0, 1000), std::clamp<LONG>(s.cy, 0, 1000)};
  } else if (name == L"font")
    font_ = ParseInt(value);
  else if (name == L"align")
    textStyle_ = ParseAlign(value, textStyle_);
  else if (name == L"textpadding")
    textPadding_ = ClampRect(ParseRect(value));
  else if (name == L"textcolor" && ParseColor(value, &color))
    textColor_ = color;
  else if (name == L"disabledtextcolor" && ParseColor(value, &color))
    disabledTextColor_ = color;
  else if (name == L"bkcolor" && ParseColor(value, &color))
    bkColor_ = color;
  else if (name == L"bordercolor" && ParseColor(value, &color))
    borderColor_ = color;
  else if (name == L"bordersize")
    borderSize_ = std::clamp(ParseInt(value), 0, 100);
  else if (name == L"borderround") {
    const SIZE s = ParseSize(value);
    borderRound_ = RECT{std::clamp<int>(s.cx, 0, 1000), std::clamp<int>(s.cy, 0, 1000), 0, 0};
  } else if (name == L"bkimage")
    bkImage_ = value;
}

void Control::DoPaint(HDC dc, const RECT& paint) {
  if (!Intersects(pos_, paint)) return;
  PaintBkColor(dc);
  PaintBkImage(dc);
  PaintStatusImage(dc);
  PaintText(dc);
  PaintBorder(dc);
}

void Control::PaintBkColor(HDC dc) { FillBackground(dc, bkColor_); }

void Control::FillBackground(HDC dc, uint32_t argb) {
  if (!argb) return;
  if (borderRound_.left > 0 && (argb >> 24) == 0xFF) {
    const UniqueBrush brush(CreateSolidBrush(RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF)));
    HGDIOBJ oldBrush = SelectObject(dc, brush.get());
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    RoundRect(dc, pos_.left, pos_.top, pos_.right + 1, pos_.bottom + 1, Scaled(borderRound_.left),
              Scaled(borderRound_.top));
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    return;
  }
  FillColor(dc, pos_, argb);
}

void Control::PaintBkImage(HDC dc) {
  if (!bkImage_.empty()) DrawImage(dc, bkImage_);
}

void Control::PaintFocusMark(HDC dc, COLORREF color) const {
  constexpr int kGap = 2;  // skin pixels between the control and the mark
  // The mark's outer edge, in skin pixels, scaled like every other edge; a
  // pen as wide as a scaled skin pixel, inside that edge.
  RECT outer = layoutPos_;
  InflateRect(&outer, kGap + 1, kGap + 1);
  const RECT r = Scaled(outer);
  const int width = std::max(1, Scaled(1));
  SIZE round = focusRound_;
  if (round.cx < 0) {
    round = SIZE{borderRound_.left, borderRound_.top};
    // The mark runs parallel to a rounded border, kGap + 1 further out.
    if (round.cx > 0) round = SIZE{round.cx + 2 * (kGap + 1), round.cy + 2 * (kGap + 1)};
  }
  round = SIZE{Scaled(std::max<LONG>(round.cx, 4)), Scaled(std::max<LONG>(round.cy, 4))};
  const UniquePen pen(CreatePen(width > 1 ? PS_SOLID | PS_INSIDEFRAME : PS_SOLID, width, color));
  HGDIOBJ oldPen = SelectObject(dc, pen.get());
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  RoundRect(dc, r.left, r.top, r.right, r.bottom, round.cx, round.cy);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
}

void Control::PaintBorder(HDC dc) {
  if (borderSize_ <= 0 || !borderColor_) return;
  const COLORREF rgb = RGB((borderColor_ >> 16) & 0xFF, (borderColor_ >> 8) & 0xFF, borderColor_ & 0xFF);
  const UniquePen pen(CreatePen(PS_SOLID | PS_INSIDEFRAME, Scaled(borderSize_), rgb));
  HGDIOBJ oldPen = SelectObject(dc, pen.get());
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  if (borderRound_.left > 0)
    RoundRect(dc, pos_.left, pos_.top, pos_.right, pos_.bottom, Scaled(borderRound_.left), Scaled(borderRound_.top));
  else
    Rectangle(dc, pos_.left, pos_.top, pos_.right, pos_.bottom);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
}

void Control::DrawText(HDC dc, const std::wstring& text, RECT rect, uint32_t argb, UINT style) const {
  if (text.empty() || !manager_) return;
  if (!argb) argb = manager_->DefaultTextColor();
  rect.left += Scaled(textPadding_.left);
  rect.top += Scaled(textPadding_.top);
  rect.right -= Scaled(textPadding_.right);
  rect.bottom -= Scaled(textPadding_.bottom);
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;
  HGDIOBJ oldFont = SelectObject(dc, manager_->GetFont(font_));
  ::SetTextColor(dc, RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF));
  SetBkMode(dc, TRANSPARENT);
  UINT flags = style | DT_NOPREFIX;
  if (!(flags & DT_SINGLELINE) && (flags & (DT_VCENTER | DT_BOTTOM))) {
    // DrawText centres vertically only single lines: measure the block first.
    RECT measure = rect;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measure,
                (flags & ~(DT_VCENTER | DT_BOTTOM)) | DT_CALCRECT);
    const int height = measure.bottom - measure.top;
    const int room = rect.bottom - rect.top;
    if (height < room) rect.top += (flags & DT_BOTTOM) ? room - height : (room - height) / 2;
    flags &= ~(DT_VCENTER | DT_BOTTOM);
  }
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect, flags);
  SelectObject(dc, oldFont);
}

bool Control::SetTimer(UINT id, UINT elapse) { return manager_ && manager_->SetTimer(this, id, elapse); }

void Control::KillTimer(UINT id) {
  if (manager_) manager_->KillTimer(this, id);
}

bool Control::DrawImage(HDC dc, const std::wstring& desc) {
  return DrawImageSpec(dc, pos_, desc, manager_ ? manager_->Dpi() : kBaseDpi);
}

// ---------------------------------------------------------------------------

Container::~Container() {
  for (Control* child : items_) delete child;
}

Control* Container::GetInterface(std::wstring_view name) {
  return name == L"Container" ? this : Control::GetInterface(name);
}

void Container::Add(Control* child) {
  if (!child) return;
  items_.push_back(child);
  child->SetInternVisible(IsVisible());
  if (manager_) child->SetManager(manager_, this, true);
  NeedParentUpdate();
}

Control* Container::GetItemAt(int index) const {
  return index >= 0 && index < GetCount() ? items_[static_cast<size_t>(index)] : nullptr;
}

void Container::SetManager(PaintManager* manager, Control* parent, bool init) {
  for (Control* child : items_) child->SetManager(manager, this, init);
  Control::SetManager(manager, parent, init);
}

Control* Container::FindByName(std::wstring_view name) {
  if (Control* self = Control::FindByName(name)) return self;
  for (Control* child : items_)
    if (Control* found = child->FindByName(name)) return found;
  return nullptr;
}

Control* Container::FindAt(POINT pt) {
  if (!IsVisible() || !PtInRect(&pos_, pt)) return nullptr;
  // Later children are painted on top, so they are hit first.
  for (auto it = items_.rbegin(); it != items_.rend(); ++it)
    if (Control* found = (*it)->FindAt(pt)) return found;
  return Control::FindAt(pt);
}

void Container::Collect(std::vector<Control*>* out) {
  Control::Collect(out);
  for (Control* child : items_) child->Collect(out);
}

void Container::SetVisible(bool visible) {
  Control::SetVisible(visible);
  for (Control* child : items_) child->SetInternVisible(IsVisible());
}

void Container::SetInternVisible(bool visible) {
  Control::SetInternVisible(visible);
  for (Control* child : items_) child->SetInternVisible(IsVisible());
}

RECT Container::Inner() const {
  return RECT{layoutPos_.left + inset_.left, layoutPos_.top + inset_.top, layoutPos_.right - inset_.right,
              layoutPos_.bottom - inset_.bottom};
}

void Container::PlaceFloat(Control* child, const RECT& inner) {
  const RECT f = child->GetFloatPos();
  child->SetPos(RECT{inner.left + f.left, inner.top + f.top, inner.left + f.right, inner.top + f.bottom});
}

void Container::SetPos(const RECT& pos) {
  Control::SetPos(pos);
  const RECT inner = Inner();
  for (Control* child : items_) {
    if (child->IsFloat()) {
      PlaceFloat(child, inner);
      continue;
    }
    const RECT p = child->GetPadding();
    child->SetPos(RECT{inner.left + p.left, inner.top + p.top, inner.right - p.right, inner.bottom - p.bottom});
  }
}

void Container::DoPaint(HDC dc, const RECT& paint) {
  RECT visible;
  if (!IntersectRect(&visible, &pos_, &paint)) return;
  PaintBkColor(dc);
  PaintBkImage(dc);
  PaintStatusImage(dc);
  PaintText(dc);
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, pos_.left, pos_.top, pos_.right, pos_.bottom);
  for (Control* child : items_)
    if (child->IsVisible()) child->DoPaint(dc, visible);
  RestoreDC(dc, saved);
  PaintBorder(dc);  // a frame stays on top of the children
}

void Container::SetAttribute(std::wstring_view name, std::wstring_view value) {
  if (name == L"inset")
    inset_ = ClampRect(ParseRect(value));
  else if (name == L"childpadding")
    childPadding_ = std::clamp(ParseInt(value), 0, kMaxExtent);
  else
    Control::SetAttribute(name, value);
}

std::vector<int> LayoutAxis(const std::vector<AxisItem>& items, int available, int childPadding) {
  std::vector<int> sizes(items.size(), 0);
  long long used = 0;
  int stretch = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    used += static_cast<long long>(items[i].before) + items[i].after + (i ? childPadding : 0);
    if (items[i].fixed > 0)
      used += items[i].fixed;
    else
      ++stretch;
  }
  const long long left = std::max<long long>(0, available - used);
  int given = 0, seen = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].fixed > 0) {
      sizes[i] = items[i].fixed;
      continue;
    }
    ++seen;
    // The last stretching child takes the remainder of the division.
    const int share = seen == stretch ? static_cast<int>(left) - given : static_cast<int>(left / stretch);
    sizes[i] = share;
    given += share;
  }
  return sizes;
}

namespace {

// Lays out the non-float children of `items` along one axis of `inner`.
void LayoutLine(const std::vector<Control*>& items, const RECT& inner, int childPadding, bool vertical) {
  std::vector<Control*> flow;
  std::vector<AxisItem> axis;
  const SIZE available = {inner.right - inner.left, inner.bottom - inner.top};
  for (Control* child : items) {
    if (child->IsFloat() || !child->IsVisible()) continue;
    const SIZE want = child->EstimateSize(available);
    const RECT p = child->GetPadding();
    flow.push_back(child);
    axis.push_back(vertical ? AxisItem{static_cast<int>(want.cy), static_cast<int>(p.top), static_cast<int>(p.bottom)}
                            : AxisItem{static_cast<int>(want.cx), static_cast<int>(p.left), static_cast<int>(p.right)});
  }
  const std::vector<int> sizes = LayoutAxis(axis, vertical ? available.cy : available.cx, childPadding);
  int cursor = vertical ? inner.top : inner.left;
  for (size_t i = 0; i < flow.size(); ++i) {
    Control* child = flow[i];
    const SIZE want = child->EstimateSize(available);
    const RECT p = child->GetPadding();
    if (i) cursor += childPadding;
    cursor += axis[i].before;
    RECT r;
    if (vertical) {
      const int width = want.cx > 0 ? static_cast<int>(want.cx) : static_cast<int>(available.cx - p.left - p.right);
      r = RECT{inner.left + p.left, cursor, inner.left + p.left + width, cursor + sizes[i]};
    } else {
      const int height = want.cy > 0 ? static_cast<int>(want.cy) : static_cast<int>(available.cy - p.top - p.bottom);
      r = RECT{cursor, inner.top + p.top, cursor + sizes[i], inner.top + p.top + height};
    }
    child->SetPos(r);
    cursor += sizes[i] + axis[i].after;
  }
}

}  // namespace

void LineLayout::SetPos(const RECT& pos) {
  Control::SetPos(pos);
  const RECT inner = Inner();
  LayoutLine(items_, inner, childPadding_, vertical_);
  for (Control* child : items_)
    if (child->IsFloat()) PlaceFloat(child, inner);
}

Control* VerticalLayout::GetInterface(std::wstring_view name) {
  return name == L"VerticalLayout" ? this : Container::GetInterface(name);
}

Control* HorizontalLayout::GetInterface(std::wstring_view name) {
  return name == L"HorizontalLayout" ? this : Container::GetInterface(name);
}

Control* TabLayout::GetInterface(std::wstring_view name) {
  return name == L"TabLayout" ? this : Container::GetInterface(name);
}

void TabLayout::DoInit() {
  if (current_ >= GetCount()) current_ = 0;
  for (int i = 0; i < GetCount(); ++i) items_[static_cast<size_t>(i)]->SetVisible(i == current_);
}

bool TabLayout::SelectItem(int index, bool notify) {
  if (index < 0 || index >= GetCount()) return false;
  const int old = current_;
  current_ = index;
  for (int i = 0; i < GetCount(); ++i) items_[static_cast<size_t>(i)]->SetVisible(i == index);
  NeedParentUpdate();
  if (notify && manager_) manager_->SendNotify(this, L"tabselect", static_cast<WPARAM>(index), old);
  return true;
}

void TabLayout::SetAttribute(std::wstring_view name, std::wstring_view value) {
  if (name == L"selectedid")
    current_ = std::max(0, ParseInt(value));
  else
    Container::SetAttribute(name, value);
}

}  // namespace skin
