// The background picture is a JPEG; libjpeg decodes it from the resource
// bytes. libjpeg reports fatal errors through error_exit, which must not
// return: it jumps back here and the image comes out empty.
#include <csetjmp>
#include <cstdio>
#include <vector>

#include "ui/win32/skin_bitmap.h"

extern "C" {
#include <jpeglib.h>
}

namespace ui {
namespace {

struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info) {
  auto* error = reinterpret_cast<JpegError*>(info->err);
  std::longjmp(error->jump, 1);
}

void IgnoreJpegMessage(j_common_ptr) {}

// Copies decoded RGB (or grey) scanlines into the BGRX image. Kept apart from
// the setjmp frame so that no object with a destructor lives across it.
bool ReadScanlines(jpeg_decompress_struct* info, SkinBitmap* image, JSAMPLE* row) {
  const int components = info->output_components;
  while (info->output_scanline < info->output_height) {
    const int y = static_cast<int>(info->output_scanline);
    JSAMPROW rows[1] = {row};
    if (jpeg_read_scanlines(info, rows, 1) != 1) return false;
    uint32_t* out = image->Row(y);
    for (JDIMENSION x = 0; x < info->output_width; ++x) {
      const JSAMPLE* p = row + x * components;
      const uint32_t r = p[0];
      const uint32_t g = components >= 3 ? p[1] : p[0];
      const uint32_t b = components >= 3 ? p[2] : p[0];
      out[x] = b | (g << 8) | (r << 16);
    }
  }
  return true;
}

}  // namespace

SkinBitmap DecodeJpeg(const uint8_t* data, size_t size) {
  SkinBitmap image;
  std::vector<JSAMPLE> row;
  jpeg_decompress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = OnJpegError;
  error.manager.output_message = IgnoreJpegMessage;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return SkinBitmap();
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  bool ok = jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
  if (ok) {
    info.out_color_space = info.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    ok = jpeg_start_decompress(&info) != 0;
  }
  if (ok) {
    image = SkinBitmap::Create(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
    row.resize(static_cast<size_t>(info.output_width) * info.output_components);
    ok = !image.empty() && ReadScanlines(&info, &image, row.data());
  }
  if (ok) jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return ok ? std::move(image) : SkinBitmap();
}

}  // namespace ui
