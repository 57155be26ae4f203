// The control tree: the base control, containers and the layouts.
//
// Ownership: a container owns its children; the paint manager owns the root.
// Threads: controls live and die on their window's thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace skin {

class PaintManager;
class Control;

// A notification from a control to the window's receivers.
struct Notify {
  std::wstring type;  // "click", "selectchanged", "tabselect", "itemselect", "timer", ... or custom
  Control* sender = nullptr;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  POINT pt = {};
  DWORD timestamp = 0;
};

class INotifyReceiver {
 public:
  virtual void Notify(Notify& msg) = 0;

 protected:
  ~INotifyReceiver() = default;
};

class IControlFactory {
 public:
  // Creates a control for a skin element the toolkit does not know; null to skip it.
  virtual Control* CreateControl(const wchar_t* className) = 0;

 protected:
  ~IControlFactory() = default;
};

enum class EventType {
  kMouseEnter,
  kMouseLeave,
  kMouseMove,
  kButtonDown,
  kButtonUp,
  kSetFocus,
  kKillFocus,
  kKeyDown,
  kTimer
};

struct Event {
  EventType type;
  POINT pt = {};
  WPARAM wParam = 0;  // timer id, virtual key
};

class Control {
 public:
  Control();
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  virtual std::wstring_view GetClass() const { return L"Control"; }
  // The control itself when it is of class `name` (or derives from it), else null.
  virtual Control* GetInterface(std::wstring_view name);

  // Joining a window: sets the manager of the whole subtree; `init` then
  // runs DoInit on each control.
  virtual void SetManager(PaintManager* manager, Control* parent, bool init);
  PaintManager* GetManager() const { return manager_; }
  Control* GetParent() const { return parent_; }
  virtual void DoInit() {}

  const std::wstring& GetName() const { return name_; }
  void SetName(const std::wstring& name) { name_ = name; }
  // Depth-first search of the subtree by name.
  virtual Control* FindByName(std::wstring_view name);
  // The deepest visible control under `pt` that takes mouse input, or null.
  virtual Control* FindAt(POINT pt);
  virtual bool WantsMouse() const { return false; }
  virtual bool WantsFocus() const { return false; }
  // Every control of the subtree, depth first, parents before children.
  virtual void Collect(std::vector<Control*>* out);

  // The text with "%[id]" language references resolved.
  virtual std::wstring GetText() const;
  virtual void SetText(const std::wstring& text);
  const std::wstring& GetUserData() const { return userData_; }
  void SetUserData(const std::wstring& data) { userData_ = data; }
  int GetFont() const { return font_; }
  void SetFont(int font);
  UINT GetTextStyle() const { return textStyle_; }
  RECT GetTextPadding() const { return textPadding_; }
  void SetTextPadding(const RECT& padding);
  void SetTextColor(uint32_t argb);
  const std::wstring& GetBkImage() const { return bkImage_; }
  void SetBkImage(const std::wstring& image);
  void SetBkColor(uint32_t argb);

  bool IsVisible() const { return visible_ && internVisible_; }
  virtual void SetVisible(bool visible);
  // Visibility given by an ancestor (a hidden tab page hides its subtree).
  virtual void SetInternVisible(bool visible);
  bool IsEnabled() const { return enabled_; }
  virtual void SetEnabled(bool enabled);
  bool IsFocused() const;
  void SetFocus();
  // The button Enter presses when the focused control does not take it
  // ("default" in the skin); the window also opens with the focus on it.
  bool IsDefault() const { return default_; }
  // For screen readers: the skin's "accname" (a name for an image-only
  // button) and "accrole" ("link", "button", "text"), and the tooltip.
  const std::wstring& AccessibleName() const { return accName_; }
  const std::wstring& AccessibleRole() const { return accRole_; }
  const std::wstring& GetToolTip() const { return toolTip_; }
  // The keyboard focus mark: a rounded frame just outside the control (so
  // it never crosses the control's own text or image), following its
  // "focusround" corners, else its "borderround" ones. The manager draws it
  // over the finished frame, unclipped by the parents.
  virtual void PaintFocusMark(HDC dc, COLORREF color) const;

  int GetFixedWidth() const { return fixedWidth_; }
  void SetFixedWidth(int width);
  int GetFixedHeight() const { return fixedHeight_; }
  void SetFixedHeight(int height);
  RECT GetPadding() const { return padding_; }
  bool IsFloat() const { return float_; }
  RECT GetFloatPos() const { return floatPos_; }
  // Where the control is drawn, in the window's device pixels (client
  // coordinates): painting, hit tests, screen readers.
  const RECT& GetPos() const { return pos_; }
  // Where the layout put it, in skin pixels.
  const RECT& GetLayoutPos() const { return layoutPos_; }
  // Places the control at `pos` in skin pixels; GetPos is its scaled edges.
  virtual void SetPos(const RECT& pos);
  // The window's DPI changed (fonts are remade; the layout follows).
  virtual void OnDpiChanged() {}
  // Wanted size; 0 in a dimension means "stretch".
  virtual SIZE EstimateSize(SIZE available) const;

  void Invalidate();
  // Asks the window to lay out again before its next paint.
  void NeedParentUpdate();

  virtual void DoEvent(Event& event);
  // Unknown attributes are ignored (skins are outside data).
  virtual void SetAttribute(std::wstring_view name, std::wstring_view value);

  virtual void DoPaint(HDC dc, const RECT& paint);

  // Per-control timers through the window; false without a window.
  bool SetTimer(UINT id, UINT elapse);
  void KillTimer(UINT id);

  // Draws an image reference in the control's rectangle.
  bool DrawImage(HDC dc, const std::wstring& desc);

 protected:
  virtual void PaintBkColor(HDC dc);
  // Fills the control (with its "borderround" corners) with an ARGB colour.
  void FillBackground(HDC dc, uint32_t argb);
  virtual void PaintBkImage(HDC dc);
  virtual void PaintStatusImage(HDC dc) {}
  virtual void PaintText(HDC dc) {}
  virtual void PaintBorder(HDC dc);
  // Skin pixels to the window's device pixels (unchanged without a window).
  int Scaled(int skinPixels) const;
  RECT Scaled(const RECT& skinRect) const;
  // Draws `text` into `rect` (device pixels) with the control's font and style.
  void DrawText(HDC dc, const std::wstring& text, RECT rect, uint32_t argb, UINT style) const;
  uint32_t TextColorOr(uint32_t preferred) const { return preferred ? preferred : textColor_; }

  PaintManager* manager_ = nullptr;  // not owned
  Control* parent_ = nullptr;        // not owned
  std::wstring name_;
  std::wstring text_;
  std::wstring userData_;
  std::wstring toolTip_;
  RECT pos_ = {};        // device pixels
  RECT layoutPos_ = {};  // skin pixels
  RECT padding_ = {};
  RECT floatPos_ = {};
  RECT textPadding_ = {};
  RECT borderRound_ = {};  // x and y diameters in left/top
  int fixedWidth_ = 0;
  int fixedHeight_ = 0;
  int font_ = -1;  // -1: the window's default font
  int borderSize_ = 0;
  UINT textStyle_ = DT_VCENTER | DT_SINGLELINE | DT_LEFT;
  uint32_t textColor_ = 0;  // 0: the window's default text colour
  uint32_t disabledTextColor_ = 0;
  uint32_t bkColor_ = 0;
  uint32_t borderColor_ = 0;
  std::wstring bkImage_;
  bool visible_ = true;
  bool internVisible_ = true;
  bool enabled_ = true;
  bool float_ = false;
  bool mouseEnabled_ = true;
  bool tabStop_ = true;
  bool default_ = false;
  std::wstring accName_;
  std::wstring accRole_;
  SIZE focusRound_ = {-1, -1};  // -1: from borderround
};

class Container : public Control {
 public:
  ~Container() override;
  std::wstring_view GetClass() const override { return L"Container"; }
  Control* GetInterface(std::wstring_view name) override;

  void Add(Control* child);  // takes ownership
  int GetCount() const { return static_cast<int>(items_.size()); }
  Control* GetItemAt(int index) const;
  const std::vector<Control*>& items() const { return items_; }

  void SetManager(PaintManager* manager, Control* parent, bool init) override;
  Control* FindByName(std::wstring_view name) override;
  Control* FindAt(POINT pt) override;
  void Collect(std::vector<Control*>* out) override;
  void SetVisible(bool visible) override;
  void SetInternVisible(bool visible) override;
  void SetPos(const RECT& pos) override;
  void DoPaint(HDC dc, const RECT& paint) override;
  void SetAttribute(std::wstring_view name, std::wstring_view value) override;

 protected:
  RECT Inner() const;
  // Float children are placed by their "pos", relative to the inner box.
  void PlaceFloat(Control* child, const RECT& inner);

  std::vector<Control*> items_;  // owned
  RECT inset_ = {};
  int childPadding_ = 0;
};

// Children one after another along one axis: fixed sizes first, the rest
// shared by the children without a size.
class LineLayout : public Container {
 public:
  explicit LineLayout(bool vertical) : vertical_(vertical) {}
  void SetPos(const RECT& pos) override;

 private:
  bool vertical_;
};

class VerticalLayout : public LineLayout {
 public:
  VerticalLayout() : LineLayout(true) {}
  std::wstring_view GetClass() const override { return L"VerticalLayout"; }
  Control* GetInterface(std::wstring_view name) override;
};

class HorizontalLayout : public LineLayout {
 public:
  HorizontalLayout() : LineLayout(false) {}
  std::wstring_view GetClass() const override { return L"HorizontalLayout"; }
  Control* GetInterface(std::wstring_view name) override;
};

// Shows one child (page) at a time.
class TabLayout : public Container {
 public:
  std::wstring_view GetClass() const override { return L"TabLayout"; }
  Control* GetInterface(std::wstring_view name) override;
  void DoInit() override;
  int GetCurSel() const { return current_; }
  // False for an index outside the pages; "tabselect" (wParam new, lParam old) when `notify`.
  bool SelectItem(int index, bool notify = true);
  void SetAttribute(std::wstring_view name, std::wstring_view value) override;

 private:
  int current_ = 0;
};

// Horizontal/vertical layout arithmetic shared by both layouts and tested
// directly: the sizes of `count` children along one axis.
struct AxisItem {
  int fixed;   // 0 = stretch
  int before;  // padding before
  int after;   // padding after
};
std::vector<int> LayoutAxis(const std::vector<AxisItem>& items, int available, int childPadding);

}  // namespace skin
