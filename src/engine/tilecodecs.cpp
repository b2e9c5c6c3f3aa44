#include "engine/tilecodecs.h"

#include <cstdio>
#include <jpeglib.h>
#include <png.h>
#include <webp/encode.h>

#include <csetjmp>
#include <cstdlib>

#include "engine/jpegerrors.h"

namespace torvel {

namespace {

// The coder's state outside the frame that jumps, so that a jump leaves it
// defined; released whatever happens.
struct JpegTile {
  jpeg_compress_struct c{};
  JpegErrors errors;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  bool created = false;
  ~JpegTile() {
    if (created) jpeg_destroy_compress(&c);
    std::free(buffer);
  }
};

bool codeJpeg(JpegTile& t, const TileEncoding& e, const uint8_t* pixels, uint32_t w, uint32_t h) {
  t.c.err = t.errors.attach();
  if (setjmp(t.errors.jump)) return false;
  jpeg_create_compress(&t.c);
  t.created = true;
  jpeg_mem_dest(&t.c, &t.buffer, &t.size);
  t.c.image_width = w;
  t.c.image_height = h;
  t.c.input_components = 3;
  t.c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&t.c);
  jpeg_set_quality(&t.c, e.quality, TRUE);
  jpeg_start_compress(&t.c, TRUE);
  for (uint32_t y = 0; y < h; ++y) {
    JSAMPROW row = const_cast<uint8_t*>(pixels + size_t(y) * w * 3);
    jpeg_write_scanlines(&t.c, &row, 1);
  }
  jpeg_finish_compress(&t.c);
  return true;
}

bool encodeJpeg(const TileEncoding& e, const uint8_t* pixels, uint32_t w, uint32_t h, std::vector<uint8_t>& out,
                std::string& why) {
  JpegTile t;
  if (!codeJpeg(t, e, pixels, w, h)) {
    why = t.errors.message;
    return false;
  }
  out.assign(t.buffer, t.buffer + t.size);
  return true;
}

struct PngTile {
  std::vector<uint8_t>* out;
  std::string message;
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngTile() {
    if (png) png_destroy_write_struct(&png, &info);
  }
};

void appendPng(png_structp png, png_bytep data, png_size_t n) {
  auto* t = static_cast<PngTile*>(png_get_io_ptr(png));
  t->out->insert(t->out->end(), data, data + n);
}

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
  static_cast<PngTile*>(png_get_error_ptr(png))->message = message;
  png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

bool codePng(PngTile& t, const uint8_t* pixels, uint32_t w, uint32_t h, int channels) {
  t.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &t, onPngError, onPngWarning);
  if (t.png) t.info = png_create_info_struct(t.png);
  if (!t.info || setjmp(png_jmpbuf(t.png))) return false;
  png_set_write_fn(t.png, &t, appendPng, nullptr);
  png_set_IHDR(t.png, t.info, w, h, 8, channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(t.png, t.info);
  for (uint32_t y = 0; y < h; ++y) png_write_row(t.png, pixels + size_t(y) * w * channels);
  png_write_end(t.png, nullptr);
  return true;
}

bool encodePng(const uint8_t* pixels, uint32_t w, uint32_t h, int channels, std::vector<uint8_t>& out,
               std::string& why) {
  PngTile t{&out, {}};
  if (codePng(t, pixels, w, h, channels)) return true;
  why = t.message.empty() ? "the PNG coder could not start" : t.message;
  return false;
}

bool encodeWebP(const TileEncoding& e, const uint8_t* pixels, uint32_t w, uint32_t h, int channels,
                std::vector<uint8_t>& out, std::string& why) {
  uint8_t* coded = nullptr;
  const int stride = static_cast<int>(w) * channels, iw = static_cast<int>(w), ih = static_cast<int>(h);
  const float q = static_cast<float>(e.quality);
  size_t n = 0;
  if (channels == 4)
    n = e.lossless ? WebPEncodeLosslessRGBA(pixels, iw, ih, stride, &coded) : WebPEncodeRGBA(pixels, iw, ih, stride, q, &coded);
  else
    n = e.lossless ? WebPEncodeLosslessRGB(pixels, iw, ih, stride, &coded) : WebPEncodeRGB(pixels, iw, ih, stride, q, &coded);
  if (n == 0) {
    why = "the WebP coder failed";
    return false;
  }
  out.assign(coded, coded + n);
  WebPFree(coded);
  return true;
}

}  // namespace

const char* tileExtension(TileFormat format) {
  switch (format) {
    case TileFormat::Png:
      return "png";
    case TileFormat::WebP:
      return "webp";
    case TileFormat::Jpeg:
      break;
  }
  return "jpg";
}

bool encodeTile(const TileEncoding& e, const uint8_t* pixels, uint32_t width, uint32_t height, int channels,
                std::vector<uint8_t>& out, std::string& why) {
  out.clear();
  switch (e.format) {
    case TileFormat::Png:
      return encodePng(pixels, width, height, channels, out, why);
    case TileFormat::WebP:
      return encodeWebP(e, pixels, width, height, channels, out, why);
    case TileFormat::Jpeg:
      break;
  }
  return encodeJpeg(e, pixels, width, height, out, why);
}

}  // namespace torvel
