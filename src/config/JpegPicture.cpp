// Decoding the About picture with libjpeg.
#include "config/JpegPicture.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace {

#include "AboutJpeg.inc"  // kAboutJpeg[], generated from about.jpg at build time

// A picture far beyond anything we embed is a broken header, not a picture:
// refuse it before allocating.
constexpr unsigned kMaxSide = 8192;

struct TJpegError {
  jpeg_error_mgr Mgr;
  std::jmp_buf Jump;
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<TJpegError*>(info->err)->Jump, 1);
}

// Warnings (e.g. premature end of data) mean the bytes are damaged: count them
// for the check after decoding.  Nothing is printed.
void OnJpegMessage(j_common_ptr info, int level) {
  if (level < 0) ++info->err->num_warnings;
}

struct TRawPicture {
  unsigned char* Pixels = nullptr;  // malloc'ed, 3 bytes a pixel
  int Width = 0;
  int Height = 0;
};

// Only plain C data lives in this frame, so the longjmp out of libjpeg skips
// no destructor; the output is reached through 'raw', which the caller owns.
bool DecodeRaw(const unsigned char* data, unsigned long size, TRawPicture* raw) {
  jpeg_decompress_struct info;
  TJpegError error;
  info.err = jpeg_std_error(&error.Mgr);
  error.Mgr.error_exit = OnJpegError;
  error.Mgr.emit_message = OnJpegMessage;
  if (setjmp(error.Jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, size);
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || info.image_width == 0 ||
      info.image_height == 0 || info.image_width > kMaxSide || info.image_height > kMaxSide) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  if (info.output_components != 3) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  const std::size_t stride = std::size_t(info.output_width) * 3;
  raw->Width = int(info.output_width);
  raw->Height = int(info.output_height);
  raw->Pixels = static_cast<unsigned char*>(std::malloc(stride * info.output_height));
  if (!raw->Pixels) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = raw->Pixels + stride * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  const bool clean = error.Mgr.num_warnings == 0;
  jpeg_destroy_decompress(&info);
  return clean;
}

}  // namespace

QImage DecodeJpeg(const unsigned char* data, std::size_t size) {
  if (!data || size == 0) return {};
  TRawPicture raw;
  const bool ok = DecodeRaw(data, static_cast<unsigned long>(size), &raw);
  QImage image;
  if (ok) {
    image = QImage(raw.Width, raw.Height, QImage::Format_RGB888);
    const std::size_t stride = std::size_t(raw.Width) * 3;
    for (int y = 0; y < raw.Height; ++y)
      std::memcpy(image.scanLine(y), raw.Pixels + stride * y, stride);
  }
  std::free(raw.Pixels);
  return image;
}

QImage AboutPicture() { return DecodeJpeg(kAboutJpeg, sizeof kAboutJpeg); }
