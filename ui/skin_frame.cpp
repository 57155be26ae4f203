#include "ui/skin_frame.h"

#include <cwchar>

#include "toolkit/archive.h"
#include "toolkit/attributes.h"
#include "toolkit/image.h"
#include "toolkit/resources.h"

SkinDescriptor SkinDescriptor::ForFile(const std::wstring& skinFile) {
  SkinDescriptor d;
  d.skinFile = skinFile;
  d.windowClassName = skinFile.substr(0, skinFile.find(L'.'));
  return d;
}

void PrefetchSkins(HINSTANCE instance) {
  skin::SetInstance(instance);
  skin::SetArchiveKind7z(true);
  skin::PrefetchSkinArchive(147);
}

void PrepareSkinToolkit(HINSTANCE instance) {
  // The archive unpacks on a worker while COM, the image decoder and the
  // window system (the first window class) start here.
  PrefetchSkins(instance);
  skin::WarmUpImageDecoder();
  CDropShadow::Initialize(instance);  // without layered windows there are simply no shadows
}

CSkinFrame::CSkinFrame(const SkinDescriptor& d)
    : resourceKind_(d.resourceKind),
      resourceId_(d.resourceId),
      skinFolder_(d.skinFolder),
      skinFile_(d.skinFile),
      className_(d.windowClassName) {}

CSkinFrame::~CSkinFrame() = default;

void CSkinFrame::InitWindow() {
  HWND window = GetHWND();
  SetWindowLongW(window, GWL_STYLE, static_cast<LONG>(GetWindowLongW(window, GWL_STYLE) & 0xFF3EFFFF));
  const std::wstring* show = manager_.GetWindowAttribute(L"showshadow");
  if (!show || !skin::EqualsNoCase(*show, L"true")) return;
  shadow_.Create(window);
  if (const std::wstring* image = manager_.GetWindowAttribute(L"shadowimage")) {
    const std::wstring* corner = manager_.GetWindowAttribute(L"shadowcorner");
    const std::wstring* hole = manager_.GetWindowAttribute(L"shadowholeoffset");
    shadow_.SetImage(*image, corner ? skin::ParseRect(*corner) : RECT{}, hole ? skin::ParseRect(*hole) : RECT{});
  }
  if (const std::wstring* v = manager_.GetWindowAttribute(L"shadowsize")) shadow_.SetSize(skin::ParseInt(*v));
  if (const std::wstring* v = manager_.GetWindowAttribute(L"shadowsharpness"))
    shadow_.SetSharpness(static_cast<unsigned>(skin::ParseInt(*v)));
  if (const std::wstring* v = manager_.GetWindowAttribute(L"shadowdarkness"))
    shadow_.SetDarkness(static_cast<unsigned>(skin::ParseInt(*v)));
  if (const std::wstring* v = manager_.GetWindowAttribute(L"shadowposition")) {
    const SIZE at = skin::ParseSize(*v);
    shadow_.SetPosition(at.cx, at.cy);
  }
  if (const std::wstring* v = manager_.GetWindowAttribute(L"shadowcolor")) {
    const wchar_t* hex = v->c_str();
    if (*hex == L'#') ++hex;
    shadow_.SetColor(static_cast<COLORREF>(wcstoul(hex, nullptr, 16)));
  }
}

LRESULT CSkinFrame::MessageHandler(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  if (message == WM_KEYDOWN && wParam == VK_ESCAPE) {
    handled = true;
    return 0;
  }
  return skin::WindowImplBase::MessageHandler(message, wParam, lParam, handled);
}
