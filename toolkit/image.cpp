#include "toolkit/image.h"

#include <wincodec.h>

#include <algorithm>
#include <map>
#include <vector>

#include "platform/log.h"
#include "platform/startup_marks.h"
#include "platform/strings.h"
#include "toolkit/archive.h"
#include "toolkit/dpi.h"
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

// An empty top-down 32-bit DIB section; null when GDI refuses it.
Image* NewImage(int width, int height) {
  BITMAPINFO bi = {};
  bi.bmiHeader = {sizeof(bi.bmiHeader), width, -height, 1, 32, BI_RGB};
  auto* image = new Image;
  void* bits = nullptr;
  image->bitmap.reset(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!image->bitmap) {
    delete image;
    return nullptr;
  }
  image->bits = static_cast<uint32_t*>(bits);
  image->width = width;
  image->height = height;
  return image;
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
  std::unique_ptr<Image> image(NewImage(static_cast<int>(w), static_cast<int>(h)));
  if (!image) return nullptr;
  if (FAILED(converter->CopyPixels(nullptr, w * 4, w * h * 4, reinterpret_cast<BYTE*>(image->bits)))) return nullptr;
  return image;
}

namespace {

// One file of the archive or the resource folder, decoded; null when missing.
std::unique_ptr<Image> LoadImage(std::wstring_view path) {
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
  return image;
}

std::map<std::wstring, std::unique_ptr<Image>>& Cache() {
  static std::map<std::wstring, std::unique_ptr<Image>> cache;  // missing images are remembered as null
  return cache;
}

// The file's image, drawn for `dpi`, loaded once; a missing 2x file is not
// worth a log line (test skins have none).
const Image* CachedFile(std::wstring_view path, int dpi) {
  const std::wstring key = CacheKey(path);
  auto found = Cache().find(key);
  if (found != Cache().end()) return found->second.get();
  std::unique_ptr<Image> image = LoadImage(path);
  if (image) image->dpi = dpi;
  if (!image && dpi == kBaseDpi) OV_LOGS(L"image not available: %s", std::wstring(path).c_str());
  return Cache().emplace(key, std::move(image)).first->second.get();
}

}  // namespace

std::wstring HighDpiName(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"/\\");
  const size_t dot = path.rfind(L'.');
  const size_t at =
      dot == std::wstring_view::npos || (slash != std::wstring_view::npos && dot < slash) ? path.size() : dot;
  std::wstring name(path.substr(0, at));
  name += L"@2x";
  name += path.substr(at);
  return name;
}

namespace {

// Along one axis scaled from `from` to `to` pixels: for each new pixel, the
// old pixels under it and the share of it each covers.
struct Tap {
  int source;
  float weight;
};
std::vector<std::vector<Tap>> AreaTaps(int from, int to) {
  std::vector<std::vector<Tap>> taps(static_cast<size_t>(to));
  const double step = static_cast<double>(from) / to;
  for (int o = 0; o < to; ++o) {
    const double start = o * step, end = start + step;
    for (int s = static_cast<int>(start); s < from && s < end; ++s) {
      const double cover = std::min<double>(s + 1, end) - std::max<double>(s, start);
      if (cover > 1e-9) taps[static_cast<size_t>(o)].push_back(Tap{s, static_cast<float>(cover / step)});
    }
  }
  return taps;
}

}  // namespace

std::unique_ptr<Image> ScaleImage(const Image& image, int width, int height, int dpi) {
  // Our own filter, not WIC's scaler: Wine 8's IWICBitmapScaler picks the
  // nearest pixel in every mode, Fant included (docs/wine.md), which would
  // make the art ragged under Wine and smooth on Windows. Premultiplied
  // pixels average correctly as they are.
  if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxImagePixels) return nullptr;
  std::unique_ptr<Image> out(NewImage(width, height));
  if (!out) return nullptr;
  const std::vector<std::vector<Tap>> across = AreaTaps(image.width, width), down = AreaTaps(image.height, height);
  // Rows first (each old row to the new width), then columns.
  std::vector<float> rows(static_cast<size_t>(image.height) * static_cast<size_t>(width) * 4);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < width; ++x) {
      float* to = &rows[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4];
      for (const Tap& t : across[static_cast<size_t>(x)]) {
        const uint32_t p =
            image.bits[static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(t.source)];
        for (int c = 0; c < 4; ++c) to[c] += static_cast<float>((p >> (8 * c)) & 0xFF) * t.weight;
      }
    }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      float sum[4] = {};
      for (const Tap& t : down[static_cast<size_t>(y)]) {
        const float* from =
            &rows[(static_cast<size_t>(t.source) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4];
        for (int c = 0; c < 4; ++c) sum[c] += from[c] * t.weight;
      }
      uint32_t p = 0;
      for (int c = 0; c < 4; ++c)
        p |= static_cast<uint32_t>(std::clamp(static_cast<int>(sum[c] + 0.5f), 0, 255)) << (8 * c);
      out->bits[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = p;
    }
  out->dpi = dpi;
  return out;
}

const Image* GetImage(std::wstring_view path, int dpi) {
  if (path.empty()) return nullptr;
  if (dpi > kBaseDpi) {
    if (const Image* hi = CachedFile(HighDpiName(path), 2 * kBaseDpi)) {
      if (dpi >= 2 * kBaseDpi) return hi;
      // Between 1x and 2x: the 2x art scaled down once per DPI, never the 1x
      // art scaled up.
      const std::wstring key = CacheKey(path) + L"|" + Utils::DecimalText(dpi);
      auto found = Cache().find(key);
      if (found != Cache().end()) return found->second.get();
      std::unique_ptr<Image> scaled =
          ScaleImage(*hi, MulDiv(hi->width, dpi, 2 * kBaseDpi), MulDiv(hi->height, dpi, 2 * kBaseDpi), dpi);
      if (scaled) return Cache().emplace(key, std::move(scaled)).first->second.get();
      return hi;
    }
  }
  return CachedFile(path, kBaseDpi);
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

void DrawImage(HDC dc, const Image& image, const RECT& dest, RECT source, const RECT& skinCorner, BYTE alpha, bool hole,
               int dpi) {
  if (IsRectEmpty(&source))
    source = RECT{0, 0, image.width, image.height};
  else
    source = ScaleToDpi(source, image.dpi);
  source.right = std::min<LONG>(source.right, image.width);
  source.bottom = std::min<LONG>(source.bottom, image.height);
  if (source.left < 0 || source.top < 0 || source.right <= source.left || source.bottom <= source.top) return;
  const UniqueMemoryDc owned(CreateCompatibleDC(dc));
  HDC mem = owned.get();
  HGDIOBJ old = SelectObject(mem, image.bitmap.get());
  // The borders on the image's side (its own pixels) and on the screen's.
  const RECT c = ScaleToDpi(skinCorner, image.dpi);
  const RECT d = ScaleToDpi(skinCorner, dpi);
  const int dw = dest.right - dest.left, dh = dest.bottom - dest.top;
  const int sw = source.right - source.left, sh = source.bottom - source.top;
  if (c.left < 0 || c.top < 0 || c.right < 0 || c.bottom < 0 || c.left + c.right > sw || c.top + c.bottom > sh ||
      d.left + d.right > dw || d.top + d.bottom > dh) {
    Blend(dc, mem, dest.left, dest.top, dw, dh, source.left, source.top, sw, sh, alpha);
  } else {
    // Nine parts: columns (left, middle, right) times rows (top, middle, bottom).
    const int dx[3] = {dest.left, dest.left + d.left, dest.right - d.right},
              dwid[3] = {d.left, dw - d.left - d.right, d.right};
    const int dy[3] = {dest.top, dest.top + d.top, dest.bottom - d.bottom},
              dhei[3] = {d.top, dh - d.top - d.bottom, d.bottom};
    const int sx[3] = {source.left, source.left + c.left, source.right - c.right},
              swid[3] = {c.left, sw - c.left - c.right, c.right};
    const int sy[3] = {source.top, source.top + c.top, source.bottom - c.bottom},
              shei[3] = {c.top, sh - c.top - c.bottom, c.bottom};
    for (int row = 0; row < 3; ++row)
      for (int col = 0; col < 3; ++col) {
        if (hole && row == 1 && col == 1) continue;
        Blend(dc, mem, dx[col], dy[row], dwid[col], dhei[row], sx[col], sy[row], swid[col], shei[row], alpha);
      }
  }
  SelectObject(mem, old);
}

bool DrawImageSpec(HDC dc, const RECT& box, std::wstring_view text, int dpi) {
  const ImageSpec desc = ParseImageSpec(text);
  const Image* image = GetImage(desc.file, dpi);
  if (!image) return false;
  RECT dest = box;
  if (!IsRectEmpty(&desc.dest)) {
    const RECT at = ScaleToDpi(desc.dest, dpi);
    dest = RECT{box.left + at.left, box.top + at.top, box.left + at.right, box.top + at.bottom};
    if (dest.right > box.right) dest.right = box.right;
    if (dest.bottom > box.bottom) dest.bottom = box.bottom;
  }
  DrawImage(dc, *image, dest, desc.source, desc.corner, static_cast<BYTE>(desc.fade), desc.hole, dpi);
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
  static Image* const pixel = NewImage(1, 1);  // lives as long as the process
  if (!pixel) return;
  const uint32_t r = ((argb >> 16) & 0xFF) * a / 255, g = ((argb >> 8) & 0xFF) * a / 255, b = (argb & 0xFF) * a / 255;
  *pixel->bits = static_cast<uint32_t>(a) << 24 | r << 16 | g << 8 | b;
  DrawImage(dc, *pixel, rect, RECT{}, RECT{}, 255, false);
}

}  // namespace skin
