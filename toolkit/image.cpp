#include "toolkit/image.h"

#include <wincodec.h>

#include <algorithm>
#include <map>

#include "platform/log.h"
#include "platform/startup_marks.h"
#include "toolkit/archive.h"
#include "toolkit/resources.h"

namespace skin {
namespace {

// Defined here so the toolkit needs no import library beyond ole32.
const CLSID kClsidWicFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
const GUID kFormat32bppPBGRA = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x10}};
constexpr int kMaxImagePixels = 4096 * 4096;

template <typename T>
struct ComPtr {
  T* p = nullptr;
  ~ComPtr() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() { return p; }
};

IWICImagingFactory* Factory() {
  // Window thread only. COM stays initialised for the life of the thread:
  // the shell's folder browser needs the same apartment later.
  static IWICImagingFactory* factory = [] {
    {
      const Utils::StartupStep step("com-init");
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    const Utils::StartupStep step("wic-factory");
    IWICImagingFactory* f = nullptr;
    if (FAILED(CoCreateInstance(kClsidWicFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&f))))
      OV_LOGS(L"WIC is not available: images stay blank");
    return f;
  }();
  return factory;
}

std::wstring CacheKey(std::wstring_view path) {
  std::wstring key(path);
  for (wchar_t& c : key) c = c == L'\\' ? L'/' : static_cast<wchar_t>(towlower(c));
  return key;
}

}  // namespace

void WarmUpImageDecoder() {
  Factory();
  Utils::MarkStartup("decoder-ready");
}

std::unique_ptr<Image> DecodeImage(std::string_view bytes) {
  IWICImagingFactory* factory = Factory();
  if (!factory || bytes.empty() || bytes.size() > 0x7FFFFFFF) return nullptr;
  const Utils::StartupStep step("image-decode");
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateStream(&stream)) ||
      FAILED(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                          static_cast<DWORD>(bytes.size()))) ||
      FAILED(factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand, &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(frame.p, kFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom)))
    return nullptr;
  UINT w = 0, h = 0;
  if (FAILED(converter->GetSize(&w, &h)) || w == 0 || h == 0 ||
      static_cast<unsigned long long>(w) * h > kMaxImagePixels)
    return nullptr;
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
  bi.bmiHeader.biWidth = static_cast<LONG>(w);
  bi.bmiHeader.biHeight = -static_cast<LONG>(h);  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  auto image = std::make_unique<Image>();
  void* bits = nullptr;
  image->bitmap.reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!image->bitmap) return nullptr;
  image->bits = static_cast<uint32_t*>(bits);
  image->width = static_cast<int>(w);
  image->height = static_cast<int>(h);
  if (FAILED(converter->CopyPixels(nullptr, w * 4, w * h * 4, static_cast<BYTE*>(bits)))) return nullptr;
  return image;
}

const Image* GetImage(std::wstring_view path) {
  static std::map<std::wstring, std::unique_ptr<Image>> cache;  // missing images are remembered as null
  if (path.empty()) return nullptr;
  const std::wstring key = CacheKey(path);
  auto found = cache.find(key);
  if (found != cache.end()) return found->second.get();
  std::unique_ptr<Image> image;
  if (const SkinArchive* archive = RegisteredArchive()) {
    if (const std::string* data = archive->Data(path)) image = DecodeImage(*data);
  } else {
    const Utils::UniqueHandle file(CreateFileW((ResourcePath() + std::wstring(path)).c_str(), GENERIC_READ,
                                               FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) OV_LOGS(L"cannot open %s:%lu", std::wstring(path).c_str(), GetLastError());
    if (file) {
      LARGE_INTEGER size = {};
      GetFileSizeEx(file.get(), &size);
      if (size.QuadPart > 0 && size.QuadPart < 64 * 1024 * 1024) {
        std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
        DWORD read = 0;
        if (ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
            read == bytes.size())
          image = DecodeImage(bytes);
      }
    }
  }
  if (!image) OV_LOGS(L"image not available: %s", std::wstring(path).c_str());
  return cache.emplace(key, std::move(image)).first->second.get();
}

namespace {

void Blend(HDC dc, HDC src, int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh, BYTE alpha) {
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  const BLENDFUNCTION bf = {AC_SRC_OVER, 0, alpha, AC_SRC_ALPHA};
  // gdi32's own entry: msimg32's AlphaBlend only forwards to it, and msimg32
  // is not a known DLL.
  GdiAlphaBlend(dc, dx, dy, dw, dh, src, sx, sy, sw, sh, bf);
}

}  // namespace

void DrawImage(HDC dc, const Image& image, const RECT& dest, RECT source, const RECT& corner, BYTE alpha, bool hole) {
  if (IsRectEmpty(&source)) source = RECT{0, 0, image.width, image.height};
  source.right = std::min<LONG>(source.right, image.width);
  source.bottom = std::min<LONG>(source.bottom, image.height);
  if (source.left < 0 || source.top < 0 || source.right <= source.left || source.bottom <= source.top) return;
  const UniqueMemoryDc owned(CreateCompatibleDC(dc));
  HDC mem = owned.get();
  HGDIOBJ old = SelectObject(mem, image.bitmap.get());
  const int l = corner.left, t = corner.top, r = corner.right, b = corner.bottom;
  const int dw = dest.right - dest.left, dh = dest.bottom - dest.top;
  const int sw = source.right - source.left, sh = source.bottom - source.top;
  if (l < 0 || t < 0 || r < 0 || b < 0 || l + r > sw || t + b > sh || l + r > dw || t + b > dh) {
    Blend(dc, mem, dest.left, dest.top, dw, dh, source.left, source.top, sw, sh, alpha);
  } else {
    // Nine parts: columns (left, middle, right) times rows (top, middle, bottom).
    const int dx[3] = {dest.left, dest.left + l, dest.right - r}, dwid[3] = {l, dw - l - r, r};
    const int dy[3] = {dest.top, dest.top + t, dest.bottom - b}, dhei[3] = {t, dh - t - b, b};
    const int sx[3] = {source.left, source.left + l, source.right - r}, swid[3] = {l, sw - l - r, r};
    const int sy[3] = {source.top, source.top + t, source.bottom - b}, shei[3] = {t, sh - t - b, b};
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 3; ++col) {
        if (hole && row == 1 && col == 1) continue;
        Blend(dc, mem, dx[col], dy[row], dwid[col], dhei[row], sx[col], sy[row], swid[col], shei[row], alpha);
      }
  }
  SelectObject(mem, old);
}

bool DrawImageSpec(HDC dc, const RECT& box, std::wstring_view text) {
  const ImageSpec desc = ParseImageSpec(text);
  const Image* image = GetImage(desc.file);
  if (!image) return false;
  RECT dest = box;
  if (!IsRectEmpty(&desc.dest)) {
    dest = RECT{box.left + desc.dest.left, box.top + desc.dest.top, box.left + desc.dest.right,
                box.top + desc.dest.bottom};
    if (dest.right > box.right) dest.right = box.right;
    if (dest.bottom > box.bottom) dest.bottom = box.bottom;
  }
  DrawImage(dc, *image, dest, desc.source, desc.corner, static_cast<BYTE>(desc.fade), desc.hole);
  return true;
}

void FillColor(HDC dc, const RECT& rect, uint32_t argb) {
  const BYTE a = static_cast<BYTE>(argb >> 24);
  if (a == 0 || IsRectEmpty(&rect)) return;
  const COLORREF rgb = RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
  if (a == 255) {
    const UniqueBrush brush(CreateSolidBrush(rgb));
    FillRect(dc, &rect, brush.get());
    return;
  }
  // A translucent fill: one premultiplied pixel stretched over the rectangle.
  static Image* const pixel = [] {
    auto* p = new Image;  // lives as long as the process
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof(bi.bmiHeader), 1, -1, 1, 32, BI_RGB};
    void* bits = nullptr;
    p->bitmap.reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    p->bits = static_cast<uint32_t*>(bits);
    p->width = p->height = 1;
    return p;
  }();
  if (!pixel->bits) return;
  const uint32_t r = ((argb >> 16) & 0xFF) * a / 255, g = ((argb >> 8) & 0xFF) * a / 255, b = (argb & 0xFF) * a / 255;
  *pixel->bits = static_cast<uint32_t>(a) << 24 | r << 16 | g << 8 | b;
  DrawImage(dc, *pixel, rect, RECT{}, RECT{}, 255, false);
}

}  // namespace skin
