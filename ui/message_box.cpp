#include "ui/message_box.h"

#include "platform/log.h"

namespace {

MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}

}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

LRESULT CMessageBoxWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return CSkinFrame::HandleMessage(message, wParam, lParam);
}

void CMessageBoxWnd::InitWindow() {
  CSkinFrame::InitWindow();
  HWND window = GetHWND();
  SetWindowLongW(window, GWL_STYLE, static_cast<LONG>((GetWindowLongW(window, GWL_STYLE) & 0xFF3EFFFF) | 0x06000000));
  SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) & ~WS_EX_TOPMOST);
  okBtn_ = FindControl(L"okBtn");
  cancelBtn_ = FindControl(L"cancelBtn");
  textLbl_ = FindControl(L"textLbl");
  captionLbl_ = FindControl(L"captionLbl");
}

void CMessageBoxWnd::SetTexts(const wchar_t* text, const wchar_t* caption) {
  if (text && textLbl_) textLbl_->SetText(text);
  if (caption && captionLbl_) captionLbl_->SetText(caption);
}

void CMessageBoxWnd::OnClick(skin::Notify& msg) {
  if (msg.sender && msg.sender == okBtn_) {
    Close(1);
    result_ = kMessageBoxOk;
  } else if (msg.sender && msg.sender == cancelBtn_) {
    Close(1);
    result_ = kMessageBoxCancel;
  } else {
    CSkinFrame::OnClick(msg);
    result_ = kMessageBoxOther;
  }
}

int ShowMessageBox(HWND owner, const SkinDescriptor& skin, const wchar_t* text, const wchar_t* caption) {
  if (Hook()) return Hook()(owner, skin, text, caption);
  OV_LOGS(L"dialog %s: %s", skin.skinFile.c_str(), text ? text : L"(skin text)");
  CMessageBoxWnd dialog(skin);
  if (!dialog.Create(owner, L"消息框", 0x10CF0000, 0)) return dialog.result();
  dialog.SetTexts(text, caption);
  dialog.CenterWindow();
  dialog.ShowModal();
  OV_LOGS(L"dialog %s: result %d", skin.skinFile.c_str(), dialog.result());
  return dialog.result();
}
