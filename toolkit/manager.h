// One per skinned window: owns the control tree, the fonts and the window
// attributes of the skin, paints through a back buffer, turns mouse and
// keyboard messages into control events, runs the per-control timers and
// delivers notifications.
//
// Threads: everything runs on the window's thread, except SendNotify with
// `queued` = true, which any thread may call: it only allocates a record
// and posts it to the window (kQueuedNotifyMessage); the window thread
// delivers it, or frees it when the window is destroyed first.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/control.h"
#include "toolkit/dpi.h"
#include "toolkit/gdi_handles.h"

namespace skin {

inline constexpr UINT kQueuedNotifyMessage = WM_APP + 0x2F1;

class PaintManager {
 public:
  PaintManager();
  ~PaintManager();
  PaintManager(const PaintManager&) = delete;
  PaintManager& operator=(const PaintManager&) = delete;

  // A manager without a window (null) still builds, lays out and paints
  // into a given device context; timers and queued notifications then fail.
  void Init(HWND window);
  HWND GetHWND() const { return window_; }

  // Takes ownership of the root, joins it and runs DoInit on every control.
  void AttachRoot(Control* root);
  Control* GetRoot() const { return root_; }
  Control* FindControl(std::wstring_view name) const;
  Control* FindControlAt(POINT pt) const;
  // True when `control` is in this window's tree (checked before a queued
  // notification is delivered: its sender may be gone).
  bool IsLive(const Control* control) const;

  // The window's DPI (96 until set). Layout works in skin pixels; positions,
  // fonts and images come out scaled by dpi / 96. A change remakes the
  // fonts and lays the window out again.
  void SetDpi(int dpi);
  int Dpi() const { return dpi_; }
  int Scale(int skinPixels) const { return ScaleToDpi(skinPixels, dpi_); }
  RECT Scale(const RECT& skinRect) const { return ScaleToDpi(skinRect, dpi_); }

  // Fonts by id, `size` in skin pixels; an unknown id gives the default font.
  void AddFont(int id, const std::wstring& face, int size, bool bold, bool underline, bool italic, bool isDefault);
  HFONT GetFont(int id) const;
  // The width in skin pixels (rounded up), as SetFixedWidth takes it.
  int MeasureTextWidth(HDC dc, const std::wstring& text, int font, UINT style) const;
  uint32_t DefaultTextColor() const { return defaultTextColor_; }
  uint32_t DefaultDisabledColor() const { return defaultDisabledColor_; }
  void SetDefaultTextColor(uint32_t argb) { defaultTextColor_ = argb; }

  // The skin's window attributes (size, caption, roundcorner, showshadow, ...).
  void SetWindowAttribute(std::wstring_view name, std::wstring_view value);
  // Null when the skin does not have it.
  const std::wstring* GetWindowAttribute(std::wstring_view name) const;
  // In skin pixels, as the skin gives them.
  SIZE InitSize() const { return initSize_; }
  RECT CaptionRect() const { return caption_; }
  SIZE RoundCorner() const { return roundCorner_; }

  // fromKeyboard: the focus mark shows from now on (until a mouse click).
  void SetFocus(Control* control, bool fromKeyboard = false);
  Control* GetFocus() const { return focus_; }
  bool ShowFocusCue() const { return focusCue_; }
  // Moves the focus to the next (or previous) control that takes focus.
  void MoveFocus(bool forward);
  // The visible, enabled control marked "default" (Enter's button), or null.
  Control* DefaultControl() const;
  // Focuses it (no mark until the keyboard is used) when nothing has the focus.
  void FocusDefault();
  // The focus mark's colour: the skin's "focuscolor", or the system's
  // highlight colour under a high-contrast theme.
  COLORREF FocusColor() const;

  bool SetTimer(Control* control, UINT id, UINT elapse);
  void KillTimer(Control* control, UINT id);

  void AddNotifier(INotifyReceiver* receiver);
  void RemoveNotifier(INotifyReceiver* receiver);
  void SendNotify(Control* sender, const std::wstring& type, WPARAM wParam = 0, LPARAM lParam = 0, bool queued = false);

  void Invalidate(const RECT& rect);
  void NeedUpdate() { needUpdate_ = true; }
  // Lays out and paints the whole tree into `dc` (also used by tests).
  void Render(HDC dc, const RECT& client, const RECT& paint);

  // Forgets a control that is being destroyed: its timers, hover, capture, focus.
  void ReapControl(Control* control);

  // The window's message handling; true when the message was handled.
  bool MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

 private:
  struct Timer {
    Control* control;
    UINT id;
    UINT_PTR windowTimer;
  };
  struct Font {
    UniqueFont font;
    std::wstring face;
    int size;  // skin pixels
    bool bold, underline, italic;
  };
  static UniqueFont MakeFont(const Font& entry, int dpi);
  void Paint();
  void DeliverQueued(Notify* notify);
  void DropQueuedNotifications();

  HWND window_ = nullptr;
  Control* root_ = nullptr;  // owned
  Control* hover_ = nullptr;
  Control* pushed_ = nullptr;
  Control* focus_ = nullptr;
  bool focusCue_ = false;
  bool trackingLeave_ = false;
  bool needUpdate_ = true;
  std::map<int, Font> fonts_;
  HFONT defaultFont_ = nullptr;  // not owned: one of fonts_ or the stock GUI font
  int dpi_ = kBaseDpi;
  uint32_t defaultTextColor_ = 0xFF000000;
  uint32_t defaultDisabledColor_ = 0xFFA7A6AA;
  uint32_t focusColor_ = 0xFF1F2A44;
  std::vector<std::pair<std::wstring, std::wstring>> windowAttributes_;
  SIZE initSize_ = {};
  RECT caption_ = {};
  SIZE roundCorner_ = {};
  std::vector<Timer> timers_;
  UINT_PTR nextTimer_ = 0x1000;
  std::vector<INotifyReceiver*> notifiers_;  // not owned
  // The back buffer. The bitmap is deselected (backOld_ put back) before
  // either owner lets go.
  UniqueMemoryDc backDc_;
  UniqueBitmap backBitmap_;
  HGDIOBJ backOld_ = nullptr;
  SIZE backSize_ = {};
};

}  // namespace skin
