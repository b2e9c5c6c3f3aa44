#include "engine/jpegerrors.h"

#include <jerror.h>

#include <cstring>

namespace torvel {

namespace {

[[noreturn]] void onError(j_common_ptr cinfo) {
  auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
  char text[JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  errors->message = text;
  std::longjmp(errors->jump, 1);
}

void onMessage(j_common_ptr) {}

// Most warnings leave the image whole; a file that ends early is filled with
// gray by the library, which would pass damage off as pixels: an error.
void onEmit(j_common_ptr cinfo, int level) {
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) onError(cinfo);
}

uint32_t read(const uint8_t* p, int bytes, bool bigEndian) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= uint32_t{p[bigEndian ? i : bytes - 1 - i]} << (8 * (bytes - 1 - i));
  return v;
}

// The orientation tag of the first directory of an EXIF block's TIFF data.
int orientationIn(const uint8_t* tiff, size_t size) {
  if (size < 8 || (std::memcmp(tiff, "II", 2) != 0 && std::memcmp(tiff, "MM", 2) != 0)) return 0;
  const bool big = tiff[0] == 'M';
  const uint64_t ifd = read(tiff + 4, 4, big);  // 64 bits: an offset near 4 GB must not wrap
  if (ifd + 2 > size) return 0;
  const uint32_t entries = read(tiff + ifd, 2, big);
  for (uint64_t e = 0; e < entries && ifd + 2 + 12 * (e + 1) <= size; ++e) {
    const uint8_t* entry = tiff + ifd + 2 + 12 * e;
    if (read(entry, 2, big) == 0x0112 && read(entry + 2, 2, big) == 3) {
      const uint32_t v = read(entry + 8, 2, big);
      return v >= 1 && v <= 8 ? static_cast<int>(v) : 0;
    }
  }
  return 0;
}

}  // namespace

jpeg_error_mgr* JpegErrors::attach() {
  jpeg_std_error(&manager);
  manager.error_exit = onError;
  manager.output_message = onMessage;
  manager.emit_message = onEmit;
  return &manager;
}

int exifOrientation(const jpeg_decompress_struct& cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
    if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0)
      return orientationIn(m->data + 6, m->data_length - 6);
  return 0;
}

}  // namespace torvel
