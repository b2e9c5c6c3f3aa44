#include "engine/versions.h"

#include <cstdio>
#include <cstdint>
#include <png.h>
#include <tiffio.h>
#include <webp/encode.h>
#include <zlib.h>

#include <jpeglib.h>

namespace torvel {

namespace {

// libtiff's text is "LIBTIFF, Version 4.5.0\nCopyright ...": the number only.
std::string tiffVersion() {
  std::string text = TIFFGetVersion();
  const size_t at = text.find("Version ");
  if (at == std::string::npos) return text.substr(0, text.find('\n'));
  const size_t from = at + 8;
  return text.substr(from, text.find_first_of("\n ", from) - from);
}

std::string webpVersion() {
  const int v = WebPGetEncoderVersion();
  return std::to_string((v >> 16) & 0xff) + "." + std::to_string((v >> 8) & 0xff) + "." + std::to_string(v & 0xff);
}

std::string jpegVersion() {
#ifdef LIBJPEG_TURBO_VERSION_NUMBER
  const int v = LIBJPEG_TURBO_VERSION_NUMBER;  // as built against: the library keeps no run-time number
  return "libjpeg-turbo " + std::to_string(v / 1000000) + "." + std::to_string(v / 1000 % 1000) + "." +
         std::to_string(v % 1000);
#else
  return "libjpeg " + std::to_string(JPEG_LIB_VERSION);
#endif
}

}  // namespace

std::string libraryVersions() {
  return "libtiff " + tiffVersion() + ", zlib " + zlibVersion() + ", libpng " + png_get_libpng_ver(nullptr) + ", " +
         jpegVersion() + ", libwebp " + webpVersion();
}

}  // namespace torvel
