// The standard controls: label, multi-line text, button, option and check
// box, edit, progress bar and combo box.
#pragma once

#include "toolkit/control.h"
#include "toolkit/gdi_handles.h"

namespace skin {

class Label : public Control {
 public:
  std::wstring_view GetClass() const override { return L"Label"; }
  Control* GetInterface(std::wstring_view name) override;

 protected:
  void PaintText(HDC dc) override;
};

// A label whose text wraps over several lines.
class Text : public Label {
 public:
  Text();
  std::wstring_view GetClass() const override { return L"Text"; }
  Control* GetInterface(std::wstring_view name) override;
};

class Button : public Label {
 public:
  Button();
  std::wstring_view GetClass() const override { return L"Button"; }
  Control* GetInterface(std::wstring_view name) override;
  bool WantsMouse() const override { return true; }
  bool WantsFocus() const override { return tabStop_; }
  void DoEvent(Event& event) override;
  void SetAttribute(std::wstring_view name, std::wstring_view value) override;
  // A click from mouse or keyboard: "click" notification.
  virtual void Activate();
  bool IsHot() const { return hot_; }
  bool IsPushed() const { return pushed_; }

 protected:
  void PaintStatusImage(HDC dc) override;
  void PaintText(HDC dc) override;

  std::wstring normalImage_, hotImage_, pushedImage_, disabledImage_, focusedImage_;
  uint32_t hotTextColor_ = 0, pushedTextColor_ = 0, hotBkColor_ = 0, pushedBkColor_ = 0;
  bool hot_ = false;
  bool pushed_ = false;
};

// A button with a selected state: a check box, or a radio button when it
// has a "group" (selecting one clears the others of the group).
class Option : public Button {
 public:
  std::wstring_view GetClass() const override { return L"Option"; }
  Control* GetInterface(std::wstring_view name) override;
  bool IsSelected() const { return selected_; }
  const std::wstring& GetGroup() const { return group_; }
  // "selectchanged" when the state changes and `notify`.
  void Selected(bool selected, bool notify = true);
  void Activate() override;
  void SetAttribute(std::wstring_view name, std::wstring_view value) override;

 protected:
  void PaintStatusImage(HDC dc) override;
  void PaintText(HDC dc) override;

  std::wstring group_;
  std::wstring selectedImage_, selectedHotImage_;
  uint32_t selectedTextColor_ = 0;
  bool selected_ = false;
};

class CheckBox : public Option {
 public:
  std::wstring_view GetClass() const override { return L"CheckBox"; }
  Control* GetInterface(std::wstring_view name) override;
};

// Text input. While it has the focus a native EDIT child does the editing
// (caret, selection, IME, clipboard); otherwise the control paints its text.
class Edit : public Label {
 public:
  ~Edit() override;
  std::wstring_view GetClass() const override { return L"Edit"; }
  Control* GetInterface(std::wstring_view name) override;
  bool WantsMouse() const override { return true; }
  bool WantsFocus() const override { return tabStop_; }
  std::wstring GetText() const override;
  void SetText(const std::wstring& text) override;
  void DoEvent(Event& event) override;
  void SetInternVisible(bool visible) override;
  void SetPos(const RECT& pos) override;
  void OnDpiChanged() override;
  void SetAttribute(std::wstring_view name, std::wstring_view value) override;
  HWND NativeWindow() const { return native_; }
  // Copies the native text back and removes the native child.
  void EndEdit();

 protected:
  void PaintText(HDC dc) override;

 private:
  void BeginEdit();
  static LRESULT CALLBACK NativeProc(HWND, UINT, WPARAM, LPARAM);
  RECT NativeRect() const;

  HWND native_ = nullptr;
  WNDPROC nativeDefault_ = nullptr;
  UniqueBrush nativeBrush_;  // deleted after the native window that paints with it
  int maxChars_ = 255;
  bool readOnly_ = false;
  bool password_ = false;
  uint32_t nativeBkColor_ = 0xFFFFFFFF;

  friend class PaintManager;
};

class Progress : public Label {
 public:
  std::wstring_view GetClass() const override { return L"Progress"; }
  Control* GetInterface(std::wstring_view name) override;
  int GetValue() const { return value_; }
  int GetMinValue() const { return min_; }
  int GetMaxValue() const { return max_; }
  void SetValue(int value);
  void SetMaxValue(int max) {
    max_ = max;
    Invalidate();
  }
  void SetMinValue(int min) {
    min_ = min;
    Invalidate();
  }
  const std::wstring& GetForeImage() const { return foreImage_; }
  void SetForeImage(const std::wstring& image);
  void SetAttribute(std::wstring_view name, std::wstring_view value) override;

 protected:
  void PaintStatusImage(HDC dc) override;

 private:
  std::wstring foreImage_;
  int min_ = 0, max_ = 100, value_ = 0;
  bool horizontal_ = true;
  bool stretchFore_ = true;
};

// A drop-down list: shows the current item; a click opens the list as a
// popup menu. Items come from child elements <ListLabelElement text="..."/>.
class Combo : public Button {
 public:
  std::wstring_view GetClass() const override { return L"Combo"; }
  Control* GetInterface(std::wstring_view name) override;
  void AddItem(const std::wstring& text) { items_.push_back(text); }
  int GetCount() const { return static_cast<int>(items_.size()); }
  int GetCurSel() const { return current_; }
  // False for an index outside the list; "itemselect" (wParam new, lParam old) when `notify`.
  bool SelectItem(int index, bool notify = true);
  std::wstring GetText() const override;
  void Activate() override;

 private:
  std::vector<std::wstring> items_;
  int current_ = -1;
};

}  // namespace skin
