#include "ui/win32/skin_bitmap.h"

#include <algorithm>

#include "ui/win32/resource_ids.h"

namespace ui {
namespace {

// The bytes of a resource of this executable, or nullptr.
const uint8_t* ResourceBytes(int id, LPCWSTR type, DWORD* size) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!info) return nullptr;
  HGLOBAL loaded = LoadResource(module, info);
  if (!loaded) return nullptr;
  *size = SizeofResource(module, info);
  return static_cast<const uint8_t*>(LockResource(loaded));
}

// A BITMAP resource: a BITMAPINFOHEADER, its colour table, then the bits.
SkinBitmap LoadDib(int id) {
  DWORD size = 0;
  const uint8_t* data = ResourceBytes(id, MAKEINTRESOURCEW(2) /* RT_BITMAP */, &size);
  if (!data || size < sizeof(BITMAPINFOHEADER)) return {};
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(data);
  const int width = header->biWidth;
  const int height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  DWORD colours = header->biClrUsed;
  if (colours == 0 && header->biBitCount <= 8) colours = 1u << header->biBitCount;
  DWORD bits_offset = header->biSize + colours * sizeof(RGBQUAD);
  if (header->biCompression == BI_BITFIELDS) bits_offset += 3 * sizeof(DWORD);
  if (bits_offset >= size) return {};
  SkinBitmap image = SkinBitmap::Create(width, height);
  if (image.empty()) return {};
  HDC screen = GetDC(nullptr);
  const int rows = SetDIBits(screen, image.handle(), 0, height, data + bits_offset,
                             reinterpret_cast<const BITMAPINFO*>(data), DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != height) return {};
  return image;
}

}  // namespace

SkinBitmap SkinBitmap::Create(int width, int height) {
  SkinBitmap image;
  if (width <= 0 || height <= 0) return image;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) return image;
  image.bitmap_.reset(bitmap);
  image.pixels_ = static_cast<uint32_t*>(bits);
  image.width_ = width;
  image.height_ = height;
  std::fill(image.pixels_, image.pixels_ + static_cast<size_t>(width) * height, 0u);
  return image;
}

SkinBitmap SkinBitmap::Load(SkinImage which) {
  const int id = UI_SKIN_RESOURCE_BASE + static_cast<int>(which);
  if (which == SkinImage::kNone) return {};
  if (which == SkinImage::kBackground) {
    DWORD size = 0;
    const uint8_t* data = ResourceBytes(id, MAKEINTRESOURCEW(10) /* RT_RCDATA */, &size);
    return data ? DecodeJpeg(data, size) : SkinBitmap();
  }
  return LoadDib(id);
}

Rgb SkinBitmap::PixelAt(int x, int y) const {
  if (!pixels_ || x < 0 || y < 0 || x >= width_ || y >= height_) return Rgb{0, 0, 0};
  GdiFlush();
  const uint32_t p = Row(y)[x];
  return Rgb{static_cast<uint8_t>((p >> 16) & 0xFF), static_cast<uint8_t>((p >> 8) & 0xFF),
             static_cast<uint8_t>(p & 0xFF)};
}

void SkinBitmap::Draw(HDC dc, int x, int y, int w, int h) const {
  if (empty()) return;
  w = std::min(w, width_);
  h = std::min(h, height_);
  if (w <= 0 || h <= 0) return;
  MemoryDC source(dc);
  SelectGuard select(source.get(), bitmap_.get());
  BitBlt(dc, x, y, w, h, source.get(), 0, 0, SRCCOPY);
}

void SkinBitmap::DrawKeyed(HDC dc, int x, int y, int w, int h, Rgb key) const {
  if (empty()) return;
  w = std::min(w, width_);
  h = std::min(h, height_);
  if (w <= 0 || h <= 0) return;
  MemoryDC source(dc);
  SelectGuard select(source.get(), bitmap_.get());
  TransparentBlt(dc, x, y, w, h, source.get(), 0, 0, w, h, RGB(key.r, key.g, key.b));
}

}  // namespace ui
