// The installer's modal message and question dialogs.
#pragma once

#include <windows.h>

#include <functional>

#include "ui/skin_frame.h"

// Results: 0 okBtn, 1 cancelBtn or no button (Alt+F4, window destroyed),
// 2 any other clickable control (closebtn).
inline constexpr int kMessageBoxOk = 0;
inline constexpr int kMessageBoxCancel = 1;
inline constexpr int kMessageBoxOther = 2;

class CMessageBoxWnd : public CSkinFrame {
 public:
  explicit CMessageBoxWnd(const SkinDescriptor& descriptor) : CSkinFrame(descriptor) {}
  ~CMessageBoxWnd() override = default;

  int result() const { return result_; }
  // Replaces the skin's text or caption (placeholders "TEXT", "CAPTION").
  void SetTexts(const wchar_t* text, const wchar_t* caption);

 protected:
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void InitWindow() override;
  void OnClick(skin::Notify& msg) override;

 private:
  int result_ = kMessageBoxCancel;
  skin::Control* okBtn_ = nullptr;  // not owned: controls of the window
  skin::Control* cancelBtn_ = nullptr;
  skin::Control* textLbl_ = nullptr;
  skin::Control* captionLbl_ = nullptr;
};

// Shows the dialog of `skin` modally over `owner` (may be null) and returns
// its result. A null text or caption keeps the skin's own.
int ShowMessageBox(HWND owner, const SkinDescriptor& skin, const wchar_t* text, const wchar_t* caption);

// Tests replace the dialogs with a function; null restores them.
using MessageBoxHook =
    std::function<int(HWND owner, const SkinDescriptor& skin, const wchar_t* text, const wchar_t* caption)>;
void SetMessageBoxHook(MessageBoxHook hook);
