#pragma once
// A decoded skin image: a 32-bit top-down DIB section whose pixels stay
// readable, so that picture buttons can test their key colour per pixel.
#include <cstddef>
#include <cstdint>
#include <utility>

#include "runtime/win32/win.h"
#include "ui/win32/gdi_handles.h"
#include "ui/window_template.h"

namespace ui {

class SkinBitmap {
 public:
  SkinBitmap() = default;
  SkinBitmap(SkinBitmap&& other) noexcept { *this = std::move(other); }
  SkinBitmap& operator=(SkinBitmap&& other) noexcept {
    bitmap_ = std::move(other.bitmap_);
    pixels_ = std::exchange(other.pixels_, nullptr);
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    return *this;
  }

  // A blank (black) image of the given size; empty on failure.
  static SkinBitmap Create(int width, int height);
  // The image of a skin resource: the JPEG background or a DIB.
  static SkinBitmap Load(SkinImage image);

  bool empty() const { return !bitmap_; }
  HBITMAP handle() const { return bitmap_.get(); }
  int width() const { return width_; }
  int height() const { return height_; }
  // The colour at (x, y); black outside the image.
  Rgb PixelAt(int x, int y) const;

  // Copies the image's top-left (w, h) to (x, y) of `dc`.
  void Draw(HDC dc, int x, int y, int w, int h) const;
  // Same, leaving the pixels of `key` out.
  void DrawKeyed(HDC dc, int x, int y, int w, int h, Rgb key) const;

  // The BGRX pixel row `y`; used by the decoders that fill the image.
  uint32_t* Row(int y) const { return pixels_ + static_cast<size_t>(y) * width_; }

 private:
  GdiObject<HBITMAP> bitmap_;
  uint32_t* pixels_ = nullptr;  // owned by bitmap_
  int width_ = 0;
  int height_ = 0;
};

// Decodes a baseline or progressive JPEG held in memory; empty on failure.
SkinBitmap DecodeJpeg(const uint8_t* data, size_t size);

}  // namespace ui
