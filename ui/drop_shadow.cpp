#include "ui/drop_shadow.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/startup_marks.h"
#include "toolkit/dpi.h"
#include "toolkit/gdi_handles.h"
#include "toolkit/image.h"
#include "toolkit/window.h"

namespace {

using UpdateLayeredWindowFn = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);
UpdateLayeredWindowFn g_updateLayeredWindow = nullptr;
HINSTANCE g_instance = nullptr;
std::vector<std::pair<HWND, CDropShadow*>> g_shadows;

CDropShadow* ShadowOf(HWND owner) {
  for (auto& [window, shadow] : g_shadows)
    if (window == owner) return shadow;
  return nullptr;
}

bool IsShadowWindow(HWND window) { return window && window != reinterpret_cast<HWND>(-1) && IsWindow(window); }

// The shadow's lengths are skin pixels, scaled like the owner's skin.
int OwnerDpi(HWND owner) {
  if (skin::WindowImplBase* window = skin::WindowImplBase::FromHandle(owner)) return window->Manager().Dpi();
  return skin::WindowDpi(owner);
}

}  // namespace

CDropShadow::CDropShadow() = default;

CDropShadow::~CDropShadow() {
  if (IsShadowWindow(window_)) PostMessageW(window_, WM_CLOSE, 0, 0);
  // The owner may outlive this object: it must not keep calling into it.
  g_shadows.erase(std::remove_if(g_shadows.begin(), g_shadows.end(), [this](auto& p) { return p.second == this; }),
                  g_shadows.end());
  if (owner_ && ownerProc_ && IsWindow(owner_) &&
      GetWindowLongPtrW(owner_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(OwnerProc))
    SetWindowLongPtrW(owner_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ownerProc_));
}

bool CDropShadow::Initialize(HINSTANCE instance) {
  if (g_updateLayeredWindow) return false;
  HMODULE user32 = GetModuleHandleW(L"USER32.DLL");
  g_updateLayeredWindow = user32 ? reinterpret_cast<UpdateLayeredWindowFn>(
                                       reinterpret_cast<void*>(GetProcAddress(user32, "UpdateLayeredWindow")))
                                 : nullptr;
  if (!g_updateLayeredWindow) return false;
  g_instance = instance;
  WNDCLASSEXW wc = {sizeof(wc)};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"SkinShadowWnd";
  RegisterClassExW(&wc);
  return true;
}

void CDropShadow::Create(HWND owner) {
  if (!g_updateLayeredWindow || !owner) return;
  g_shadows.emplace_back(owner, this);
  owner_ = owner;
  window_ = CreateWindowExW(WS_EX_LAYERED | WS_EX_TRANSPARENT, L"SkinShadowWnd", nullptr, WS_POPUPWINDOW, CW_USEDEFAULT,
                            0, 0, 0, owner, nullptr, g_instance, nullptr);
  const LONG_PTR style = GetWindowLongPtrW(owner, GWL_STYLE);
  state_ = kEnabled;
  if (style & WS_VISIBLE) {
    if (style & (WS_MAXIMIZE | WS_MINIMIZE)) {
      state_ = kEnabled | kOwnerShown;
    } else {
      state_ = kEnabled | kShadowShown | kOwnerShown;
      ShowWindow(window_, SW_SHOWNA);
      Update(owner);
    }
  }
  ownerProc_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OwnerProc)));
}

LRESULT CALLBACK CDropShadow::OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CDropShadow* shadow = ShadowOf(window);
  if (!shadow) return DefWindowProcW(window, message, wParam, lParam);
  const WNDPROC next = shadow->ownerProc_;
  if (message == WM_PAINT) {
    // The window paints first: its first frame does not wait for the shadow.
    const LRESULT result = CallWindowProcW(next, window, message, wParam, lParam);
    shadow->OnOwnerMessage(window, message, wParam, lParam);
    return result;
  }
  shadow->OnOwnerMessage(window, message, wParam, lParam);
  return CallWindowProcW(next, window, message, wParam, lParam);
}

void CDropShadow::OnOwnerMessage(HWND owner, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      if (IsShadowWindow(window_)) DestroyWindow(window_);
      break;
    case WM_MOVE:
      if (state_ & kShadowShown) {
        RECT r;
        GetWindowRect(owner, &r);
        const POINT at = Origin(r, OwnerDpi(owner));
        SetWindowPos(window_, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
      }
      break;
    case WM_SIZE:
      if (!(state_ & kEnabled)) break;
      if (wParam == SIZE_MAXIMIZED || wParam == SIZE_MINIMIZED) {
        ShowWindow(window_, SW_HIDE);
        state_ &= static_cast<uint8_t>(~kShadowShown);
      } else if (state_ & kOwnerShown) {
        // Growing waits for the owner's next paint, so the shadow never
        // shows the new size before the window does.
        if (LOWORD(lParam) > lastWidth_ || HIWORD(lParam) > lastHeight_)
          updatePending_ = true;
        else
          Refresh(owner);
        if (!(state_ & kShadowShown)) {
          ShowWindow(window_, SW_SHOWNA);
          state_ |= kShadowShown;
        }
      }
      lastWidth_ = LOWORD(lParam);
      lastHeight_ = HIWORD(lParam);
      break;
    case WM_PAINT:
      if (updatePending_) {
        Update(owner);
        updatePending_ = false;
      }
      break;
    case WM_ACTIVATE:
    case WM_EXITSIZEMOVE:
      if (state_ & kShadowShown) Refresh(owner);
      break;
    case WM_SHOWWINDOW:
      if (!(state_ & kEnabled)) break;
      if (!wParam) {
        ShowWindow(window_, SW_HIDE);
        state_ &= static_cast<uint8_t>(~(kShadowShown | kOwnerShown));
      } else if (!(state_ & kOwnerShown)) {
        updatePending_ = true;
        ShowWindow(window_, SW_SHOWNA);
        state_ |= kShadowShown | kOwnerShown;
      }
      break;
    case WM_NCDESTROY:
      g_shadows.erase(std::remove_if(g_shadows.begin(), g_shadows.end(), [owner](auto& p) { return p.first == owner; }),
                      g_shadows.end());
      owner_ = nullptr;
      break;
    default:
      break;
  }
}

ShadowParams CDropShadow::params() const { return params(skin::kBaseDpi); }

ShadowParams CDropShadow::params(int dpi) const {
  return ShadowParams{skin::ScaleToDpi(size_, dpi), skin::ScaleToDpi(sharpness_, dpi), darkness_,
                      skin::ScaleToDpi(dx_, dpi),   skin::ScaleToDpi(dy_, dpi),        color_};
}

void CDropShadow::Changed() {
  if ((state_ & kShadowShown) && owner_) Refresh(owner_);
}

void CDropShadow::Refresh(HWND owner) {
  // Showing a window sizes and activates it before its first paint: an
  // update there would only be redone by the paint's own.
  if (!updatePending_) Update(owner);
}

bool CDropShadow::SetDarkness(unsigned darkness) {
  if (darkness > 255) return false;
  darkness_ = static_cast<uint8_t>(darkness);
  Changed();
  return true;
}

bool CDropShadow::SetSharpness(unsigned sharpness) {
  if (sharpness > 20) return false;
  sharpness_ = static_cast<uint8_t>(sharpness);
  Changed();
  return true;
}

bool CDropShadow::SetSize(int size) {
  if (size < -20 || size > 20) return false;
  size_ = static_cast<int8_t>(size);
  Changed();
  return true;
}

bool CDropShadow::SetPosition(int x, int y) {
  if (x < -20 || x > 20 || y < -20 || y > 20) return false;
  dx_ = static_cast<int8_t>(x);
  dy_ = static_cast<int8_t>(y);
  Changed();
  return true;
}

bool CDropShadow::SetColor(COLORREF color) {
  color_ = color & 0xFFFFFF;
  Changed();
  return true;
}

bool CDropShadow::SetImage(const std::wstring& image, const RECT& corner, const RECT& holeOffset) {
  const skin::Image* loaded = skin::GetImage(image);
  if (!loaded) return false;
  image_ = loaded;
  imageName_ = image;
  corner_ = corner;
  holeOffset_ = holeOffset;
  Changed();
  return true;
}

POINT CDropShadow::Origin(const RECT& owner, int dpi) const {
  if (image_) {
    const RECT corner = skin::ScaleToDpi(corner_, dpi);
    return POINT{owner.left - corner.left, owner.top - corner.top};
  }
  const ShadowParams p = params(dpi);
  return POINT{owner.left + p.dx - p.size, owner.top + p.dy - p.size};
}

void CDropShadow::Update(HWND owner) {
  if (!IsShadowWindow(window_) || !g_updateLayeredWindow) return;
  const Utils::StartupStep step("shadow-update");
  RECT r;
  GetWindowRect(owner, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int dpi = OwnerDpi(owner);
  const ShadowParams p = params(dpi);
  const RECT corner = skin::ScaleToDpi(corner_, dpi);
  const int sw = image_ ? w + corner.left + corner.right : w + 2 * p.size;
  const int sh = image_ ? h + corner.top + corner.bottom : h + 2 * p.size;
  if (sw <= 0 || sh <= 0) return;
  BITMAPINFO bi = {};
  bi.bmiHeader = {sizeof(bi.bmiHeader), sw, sh, 1, 32, BI_RGB};  // bottom-up
  void* bits = nullptr;
  const skin::UniqueMemoryDc owned = [] {
    const skin::UniqueWindowDc screen = skin::GetWindowDc(nullptr);
    return skin::UniqueMemoryDc(CreateCompatibleDC(screen.get().dc));
  }();
  HDC mem = owned.get();
  const skin::UniqueBitmap bitmap(CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap) return;
  HGDIOBJ old = SelectObject(mem, bitmap.get());
  auto* out = static_cast<uint32_t*>(bits);
  std::fill(out, out + static_cast<size_t>(sw) * static_cast<size_t>(sh), 0u);
  if (image_) {
    const RECT fixed = {corner_.left + holeOffset_.left, corner_.top + holeOffset_.top,
                        corner_.right + holeOffset_.right, corner_.bottom + holeOffset_.bottom};
    const skin::Image* image = skin::GetImage(imageName_, dpi);
    skin::DrawImage(mem, image ? *image : *image_, RECT{0, 0, sw, sh}, RECT{}, fixed, 255, true, dpi);
  } else {
    const skin::UniqueRegion region(CreateRectRgn(0, 0, 0, 0));
    const bool hasRegion = GetWindowRgn(owner, region.get()) != ERROR;
    const std::vector<uint32_t> pixels =
        ComputeShadowBitmap(p, w, h, OwnerSpans(hasRegion ? region.get() : nullptr, w, h));
    for (int i = 0; i < sh && !pixels.empty(); ++i)
      std::copy_n(&pixels[static_cast<size_t>(i) * static_cast<size_t>(sw)], sw,
                  out + static_cast<size_t>(sh - 1 - i) * static_cast<size_t>(sw));
  }
  const POINT at = Origin(r, dpi);
  MoveWindow(window_, at.x, at.y, sw, sh, FALSE);
  POINT source = {0, 0};
  SIZE size = {sw, sh};
  POINT dest = at;
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  g_updateLayeredWindow(window_, nullptr, &dest, &size, mem, &source, 0, &blend, ULW_ALPHA);
  SelectObject(mem, old);
}
