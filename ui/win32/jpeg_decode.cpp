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

// Decodes into `image`; the objects with destructors live in the caller's
// frame, out of reach of the longjmp.
bool DecodeInto(const uint8_t* data, size_t size, SkinBitmap* image, std::vector<JSAMPLE>* row) {
  jpeg_decompress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = OnJpegError;
  error.manager.output_message = IgnoreJpegMessage;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, const_cast<unsigned char*>(data), static_cast<unsigned long>(size));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  info.out_color_space = info.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  if (!jpeg_start_decompress(&info)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  *image = SkinBitmap::Create(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
  row->resize(static_cast<size_t>(info.output_width) * info.output_components);
  if (image->empty() || !ReadScanlines(&info, image, row->data())) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

SkinBitmap DecodeJpeg(const uint8_t* data, size_t size) {
  SkinBitmap image;
  std::vector<JSAMPLE> row;
  if (!DecodeInto(data, size, &image, &row)) return SkinBitmap();
  return image;
}

}  // namespace ui
