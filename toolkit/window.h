// The skinned window base. A derived controller names its skin (kind,
// resource id, folder, file) and window class, and receives the
// initialisation, notifications, clicks and messages of its window.
//
// Threads: created, run and destroyed on one thread (the process's first).
// Lifetime: the object outlives its window; the modal loop returns when the
// window no longer exists.
#pragma once

#include <windows.h>

#include <string>

#include "toolkit/accessible.h"
#include "toolkit/manager.h"

namespace skin {

// Resource kinds of a skin.
inline constexpr int kSkinFromFile = 1;     // skin file and images in the resource folder
inline constexpr int kSkinFromArchive = 4;  // the "SKINRES" 7z archive resource

// Start-up: begins unpacking the "SKINRES" archive resource `resourceId` of
// the module on a worker thread, so the first window finds it ready.
// Optional: windows do the same on demand. The worker only unpacks memory:
// it loads no DLL and calls no window or COM function.
void PrefetchSkinArchive(int resourceId);

class WindowImplBase : public INotifyReceiver, public IControlFactory {
 public:
  WindowImplBase() = default;
  virtual ~WindowImplBase();
  WindowImplBase(const WindowImplBase&) = delete;
  WindowImplBase& operator=(const WindowImplBase&) = delete;

  HWND Create(HWND owner, const wchar_t* title, DWORD style, DWORD exStyle, int x = CW_USEDEFAULT,
              int y = CW_USEDEFAULT, int width = CW_USEDEFAULT, int height = CW_USEDEFAULT);
  HWND GetHWND() const { return window_; }
  // Middle of the owner (unless it is minimised) or of the monitor's work
  // area, then kept inside the work area.
  void CenterWindow();
  void ShowWindow(bool show = true, bool activate = true);
  // Shows the window, disables its owner and dispatches the thread's
  // messages until the window is gone (or WM_QUIT, which is posted again).
  UINT ShowModal();
  // Requests closing: posts WM_CLOSE with `code`; nothing when the window is gone.
  void Close(UINT code = IDOK);

  PaintManager& Manager() { return manager_; }
  // The skinned window object of a window handle, or null.
  static WindowImplBase* FromHandle(HWND window);
  Control* FindControl(const wchar_t* name) const { return manager_.FindControl(name); }

 protected:
  virtual const wchar_t* GetWindowClassName() const = 0;
  virtual std::wstring GetSkinFolder() { return L""; }
  virtual std::wstring GetSkinFile() = 0;
  virtual int GetResourceType() const { return kSkinFromArchive; }
  virtual int GetResourceID() const { return 147; }

  // After the skin's controls exist, before the window is first shown.
  virtual void InitWindow() {}
  virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  virtual LRESULT HandleCustomMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
  // Message filter: sees every message first. The default closes the
  // window on Escape, as a dialog would.
  virtual LRESULT MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
  // Routes "click" to OnClick.
  void Notify(skin::Notify& msg) override;
  // "closebtn" requests close, "minbtn" minimises, "maxbtn"/"restorebtn" size.
  virtual void OnClick(skin::Notify& msg);
  Control* CreateControl(const wchar_t* className) override { return nullptr; }
  virtual void OnFinalMessage(HWND window) {}

  PaintManager manager_;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnCreate();
  bool LoadSkinArchive();
  void ApplyRoundCorner();

  HWND window_ = nullptr;
  HWND modalOwner_ = nullptr;
  AccessibleRoot accessible_;
};

}  // namespace skin
