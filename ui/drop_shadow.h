// The soft shadow around a skinned window: a layered, click-through popup
// owned by the window, redrawn from the window's outline (or from an image)
// and moved along with it.
//
// Threads: the window thread only. The owner's window procedure is replaced
// by the shadow's while the shadow exists; the process-wide list maps each
// owner to its shadow. Ends: the owner's WM_DESTROY destroys the shadow
// window; the shadow object's destruction closes it and gives the owner its
// window procedure back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "ui/shadow_bitmap.h"

namespace skin {
struct Image;
}

class CDropShadow {
 public:
  // State flags.
  static constexpr uint8_t kEnabled = 1, kShadowShown = 2, kOwnerShown = 4;

  CDropShadow();
  virtual ~CDropShadow();
  CDropShadow(const CDropShadow&) = delete;
  CDropShadow& operator=(const CDropShadow&) = delete;

  // Once at start-up: finds UpdateLayeredWindow and registers "SkinShadowWnd".
  // False when it was done before or the system has no layered windows.
  static bool Initialize(HINSTANCE instance);

  // Creates the shadow window for `owner` and takes over its messages.
  void Create(HWND owner);

  // Each setter refuses (false, nothing changed) a value out of range.
  bool SetDarkness(unsigned darkness);    // 0 .. 255
  bool SetSharpness(unsigned sharpness);  // 0 .. 20
  bool SetSize(int size);                 // -20 .. 20
  bool SetPosition(int x, int y);         // -20 .. 20 each
  bool SetColor(COLORREF color);          // the top byte is ignored
  // Image mode: a nine-grid picture instead of the computed shadow.
  bool SetImage(const std::wstring& image, const RECT& corner, const RECT& holeOffset);

  // Recomputes the picture and places the shadow around `owner`.
  void Update(HWND owner);

  HWND window() const { return window_; }
  uint8_t state() const { return state_; }
  // As set, in skin pixels.
  ShadowParams params() const;
  // As drawn for an owner at `dpi`: its lengths (size, sharpness, offsets) scaled.
  ShadowParams params(int dpi) const;

 private:
  static LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnOwnerMessage(HWND owner, UINT message, WPARAM wParam, LPARAM lParam);
  void Changed();
  // Update, unless one is pending: the owner's next paint makes it anyway.
  void Refresh(HWND owner);
  POINT Origin(const RECT& owner, int dpi) const;

  HWND window_ = reinterpret_cast<HWND>(-1);
  HWND owner_ = nullptr;
  WNDPROC ownerProc_ = nullptr;  // the owner's own procedure, called for every message
  uint8_t state_ = 0;
  uint8_t darkness_ = 150;
  uint8_t sharpness_ = 5;
  int8_t size_ = 0;
  int8_t dx_ = 5;
  int8_t dy_ = 5;
  WORD lastWidth_ = 0, lastHeight_ = 0;
  bool updatePending_ = false;
  uint32_t color_ = 0;
  const skin::Image* image_ = nullptr;  // owned by the toolkit's image cache; the 1x art
  std::wstring imageName_;
  RECT corner_ = {};
  RECT holeOffset_ = {};
};
