// What screen readers see of a skinned window. Its controls are drawn, not
// child windows, so without this a reader finds one nameless window.
//
// The window answers WM_GETOBJECT (OBJID_CLIENT) with one IAccessible whose
// children are simple elements (child ids 1..n, no objects of their own):
// the visible controls a user reads or acts on, in the skin's order. Each
// has a name (the skin's "accname", else its text, else its tooltip), a
// role (push button, check box, radio button, link, static text, editable
// text, progress bar), its state, its screen rectangle and, when it acts,
// a default action, which runs later on the window's thread (an action may
// open a modal dialog: the reader's call must not wait for it).
//
// Threads: the object is called on the window's thread only (COM's
// single-threaded apartment; calls from other processes arrive through the
// window's message loop). Lifetime: a reader may keep it after the window
// is gone; the window cuts it loose first (Disconnect), and every call then
// fails with RPC_E_DISCONNECTED.
#pragma once

#include <windows.h>

namespace skin {

class Control;
class PaintManager;

class WindowAccessible;

// The window's side: creates the object on the first request, answers
// WM_GETOBJECT, and raises the events a reader follows.
class AccessibleRoot {
 public:
  AccessibleRoot() = default;
  ~AccessibleRoot();  // Disconnect
  AccessibleRoot(const AccessibleRoot&) = delete;
  AccessibleRoot& operator=(const AccessibleRoot&) = delete;

  // The WM_GETOBJECT result; 0 (the system's own object) for anything but
  // the client area.
  LRESULT Answer(PaintManager& manager, HWND window, WPARAM wParam, LPARAM lParam);
  void Disconnect();

  // NotifyWinEvent for a control (EVENT_OBJECT_FOCUS, _STATECHANGE,
  // _NAMECHANGE, _VALUECHANGE); nothing when it is not a listed child.
  static void Raise(PaintManager& manager, DWORD event, const Control* control);

 private:
  WindowAccessible* object_ = nullptr;  // one reference held
};

// The message that runs a default action (wParam: the control; checked to
// be alive before it is used).
inline constexpr UINT kAccessibleActionMessage = WM_APP + 0x2F2;

}  // namespace skin
