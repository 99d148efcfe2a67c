// The program icon as Windows loads it from the executable's resources: every
// size the shell asks for comes back at that size with the picture in it,
// whether its frame is stored as a bitmap or PNG-compressed.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "ui/win32/resource_ids.h"

namespace {

struct IconPixels {
  int width = 0;
  int height = 0;
  std::vector<unsigned> argb;  // top-down rows
};

IconPixels LoadIconPixels(int size) {
  IconPixels pixels;
  HICON icon = static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(UI_IDI_UPDATER), IMAGE_ICON, size, size, 0));
  if (!icon) return pixels;
  ICONINFO info{};
  if (GetIconInfo(icon, &info) && info.hbmColor) {
    BITMAP bitmap{};
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    pixels.width = bitmap.bmWidth;
    pixels.height = bitmap.bmHeight;
    BITMAPINFO request{};
    request.bmiHeader.biSize = sizeof request.bmiHeader;
    request.bmiHeader.biWidth = bitmap.bmWidth;
    request.bmiHeader.biHeight = -bitmap.bmHeight;
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    request.bmiHeader.biCompression = BI_RGB;
    pixels.argb.resize(static_cast<size_t>(bitmap.bmWidth) * bitmap.bmHeight);
    HDC screen = GetDC(nullptr);
    if (!GetDIBits(screen, info.hbmColor, 0, bitmap.bmHeight, pixels.argb.data(), &request, DIB_RGB_COLORS)) {
      pixels.argb.clear();
    }
    ReleaseDC(nullptr, screen);
  }
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  DestroyIcon(icon);
  return pixels;
}

TEST(IconResource, EverySizeLoadsWithItsPicture) {
  for (int size : {16, 32, 48, 64, 128}) {
    SCOPED_TRACE(size);
    const IconPixels pixels = LoadIconPixels(size);
    ASSERT_EQ(pixels.width, size);
    ASSERT_EQ(pixels.height, size);
    ASSERT_FALSE(pixels.argb.empty());
    // A rounded square fills most of the frame; its corners stay clear.
    size_t opaque = 0;
    for (unsigned p : pixels.argb) opaque += (p >> 24) > 0x80;
    EXPECT_GT(opaque, pixels.argb.size() / 2);
    EXPECT_LT(pixels.argb[0] >> 24, 0x80u);
    // The amber arrow sits a little below the middle: red high, blue low.
    const unsigned centre = pixels.argb[static_cast<size_t>(size) * (size * 55 / 100) + size / 2];
    EXPECT_GT((centre >> 16) & 0xff, 0xc0u) << std::hex << centre;
    EXPECT_LT(centre & 0xff, 0x80u) << std::hex << centre;
  }
}

}  // namespace
