// The base of every installer window: binds a window to its skin, strips
// the system frame, swallows Escape and gives the window its drop shadow.
#pragma once

#include <windows.h>

#include <string>

#include "toolkit/window.h"
#include "ui/drop_shadow.h"

struct SkinDescriptor {
  int resourceKind = skin::kSkinFromArchive;
  int resourceId = 147;
  std::wstring skinFolder;
  std::wstring skinFile;
  std::wstring windowClassName;

  // The installer's descriptor for a skin file of the archive; the window
  // class is the file name up to its first ".".
  static SkinDescriptor ForFile(const std::wstring& skinFile);
};

// The earliest start-up step for the windows: the toolkit's module handle
// and the 7z archive kind, and the skin archive's unpacking on a worker
// (the longest part of the first window's start), so that start-up's other
// steps overlap it. A second call does nothing.
void PrefetchSkins(HINSTANCE instance);

// Start-up step for the window subsystem: PrefetchSkins (unless done), COM
// and the image decoder, and the shadow window class.
void PrepareSkinToolkit(HINSTANCE instance);

class CSkinFrame : public skin::WindowImplBase {
 public:
  explicit CSkinFrame(const SkinDescriptor& descriptor);
  ~CSkinFrame() override;

  CDropShadow& shadow() { return shadow_; }

 protected:
  const wchar_t* GetWindowClassName() const override { return className_.c_str(); }
  // Style without caption and maximise box; the shadow as the skin's root
  // attributes describe it. Derived windows call it first.
  void InitWindow() override;
  std::wstring GetSkinFolder() override { return skinFolder_; }
  std::wstring GetSkinFile() override { return skinFile_; }
  int GetResourceType() const override { return resourceKind_; }
  int GetResourceID() const override { return resourceId_; }
  // Escape is swallowed: the windows close only through their buttons.
  LRESULT MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

 private:
  int resourceKind_;
  int resourceId_;
  std::wstring skinFolder_;
  std::wstring skinFile_;
  std::wstring className_;
  CDropShadow shadow_;
};
