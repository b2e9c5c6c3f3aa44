// PNG through libpng: read a row at a time (rows come only in order: an
// earlier row starts the file again), written a row at a time. Interlaced
// files are decoded whole, within the bound on a decoded image. libpng
// reports errors by a long jump: every function that sets the jump holds no
// object that needs destroying.
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstring>

#include "engine/formatparts.h"
#include "engine/stdiofile.h"
#include "engine/text.h"

namespace torvel {

namespace {

// The largest interlaced PNG decoded whole.
constexpr uint64_t maxInterlacedBytes = uint64_t{256} << 20;

// The library's handles of one file, and its last message.
struct PngHandles {
  png_structp png = nullptr;
  png_infop info = nullptr;
  bool writing = false;
  std::string message;
  ~PngHandles() {
    if (writing)
      png_destroy_write_struct(&png, &info);
    else if (png)
      png_destroy_read_struct(&png, &info, nullptr);
  }
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
  // The library's file reader says only this when the file runs short.
  const bool shortRead = std::strcmp(message, "Read Error") == 0;
  static_cast<PngHandles*>(png_get_error_ptr(png))->message = shortRead ? "the file ends before the image does" : message;
  png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

bool startReading(PngHandles& h, FILE* file) {
  h.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &h, onPngError, onPngWarning);
  if (!h.png) return false;
  h.info = png_create_info_struct(h.png);
  if (!h.info || setjmp(png_jmpbuf(h.png))) return false;
  png_init_io(h.png, file);
  png_set_user_limits(h.png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_read_info(h.png, h.info);
  return true;
}

// Rows as our lines: 8 or 16 bits (host order), palettes and gray as RGB,
// transparency as alpha.
bool setTransformations(PngHandles& h) {
  if (setjmp(png_jmpbuf(h.png))) return false;
  png_set_expand(h.png);
  png_set_gray_to_rgb(h.png);
  if (png_get_bit_depth(h.png, h.info) == 16) png_set_swap(h.png);
  if (png_get_interlace_type(h.png, h.info) != PNG_INTERLACE_NONE) png_set_interlace_handling(h.png);
  png_read_update_info(h.png, h.info);
  return true;
}

bool readPngRow(PngHandles& h, uint8_t* row) {
  if (setjmp(png_jmpbuf(h.png))) return false;
  png_read_row(h.png, row, nullptr);
  return true;
}

bool readPngImage(PngHandles& h, png_bytepp rows) {
  if (setjmp(png_jmpbuf(h.png))) return false;
  png_read_image(h.png, rows);
  return true;
}

std::string colourText(int type, bool transparency) {
  switch (type) {
    case PNG_COLOR_TYPE_GRAY:
      return transparency ? "gray + alpha" : "gray";
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return "gray + alpha";
    case PNG_COLOR_TYPE_PALETTE:
      return "palette";
  }
  return "";
}

// What the header and the chunks before the pixels say.
void describePng(ImageInfo& info, const PngHandles& h) {
  png_structp p = h.png;
  png_infop i = h.info;
  const int type = png_get_color_type(p, i);
  const bool transparency = png_get_valid(p, i, PNG_INFO_tRNS);
  const bool alpha = (type & PNG_COLOR_MASK_ALPHA) || transparency;
  info.width = png_get_image_width(p, i);
  info.height = png_get_image_height(p, i);
  info.bits = png_get_bit_depth(p, i) == 16 ? 16 : 8;
  info.channels = alpha ? 4 : 3;
  info.gray = !(type & PNG_COLOR_MASK_COLOR);
  info.fileLayout = colourText(type, transparency);
  info.fileChannels = png_get_channels(p, i);
  info.format = "PNG";
  info.codec = "Deflate";
  info.storage = png_get_interlace_type(p, i) == PNG_INTERLACE_NONE ? "rows" : "interlaced";
  png_uint_32 resX = 0, resY = 0;
  int unit = 0;
  if (png_get_pHYs(p, i, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER) {
    info.dpiX = resX * 0.0254;
    info.dpiY = resY * 0.0254;
  }
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  if (png_get_iCCP(p, i, &name, &compression, &profile, &length)) info.icc.assign(profile, profile + length);
}

class PngReader : public ImageReader {
 public:
  explicit PngReader(const ImageInfo& info) : ImageReader(info) {}
  bool start(std::string& why);
  bool sequential() const override { return true; }
  const uint8_t* readRow(uint32_t row) override;

 private:
  bool readWhole(std::string& why);
  StdioFile file_;
  std::unique_ptr<PngHandles> handles_;
  std::unique_ptr<uint8_t[]> line_;
  std::vector<uint8_t> whole_;  // an interlaced image, decoded at once
  uint32_t next_ = 0;
};

// Opens (or opens again) the file and readies its first row.
bool PngReader::start(std::string& why) {
  file_.close(why);
  handles_ = std::make_unique<PngHandles>();
  next_ = 0;
  if (!file_.openRead(info_.path, why)) return false;
  if (!startReading(*handles_, file_.get()) || !setTransformations(*handles_)) {
    why = handles_->message.empty() ? "not a PNG file" : handles_->message;
    return false;
  }
  if (png_get_rowbytes(handles_->png, handles_->info) != info_.lineBytes()) {
    why = "the file has changed since it was chosen";
    return false;
  }
  if (!line_ && !(line_ = allocateLine(info_.lineBytes()))) {
    why = rowMemoryText(info_);
    return false;
  }
  return info_.storage != "interlaced" || readWhole(why);
}

bool PngReader::readWhole(std::string& why) {
  whole_.resize(info_.lineBytes() * info_.height);
  std::vector<png_bytep> rows(info_.height);
  for (uint32_t r = 0; r < info_.height; ++r) rows[r] = whole_.data() + r * info_.lineBytes();
  if (readPngImage(*handles_, rows.data())) return true;
  why = handles_->message;
  return false;
}

const uint8_t* PngReader::readRow(uint32_t row) {
  if (!whole_.empty()) return whole_.data() + row * info_.lineBytes();
  std::string why;
  if (row < next_ && !start(why)) return fail(why);
  while (next_ <= row) {
    if (cancelRequested()) return fail("cancelled");
    if (!readPngRow(*handles_, line_.get())) return fail("row " + std::to_string(next_) + ": " + handles_->message);
    ++next_;
  }
  return line_.get();
}

}  // namespace

void probePng(ImageInfo& info) {
  std::string why;
  StdioFile file;
  PngHandles h;
  if (!file.openRead(info.path, why)) return refuseProbe(info, withReason("Cannot read " + info.path, why));
  if (!startReading(h, file.get()))
    return refuseProbe(info, withReason("The PNG file is damaged or truncated", h.message));
  describePng(info, h);
  if (info.width == 0 || info.height == 0) return refuseProbe(info, "Height or Width = 0");
  const uint64_t whole = info.lineBytes() * info.height;
  if (info.storage == "interlaced" && whole > maxInterlacedBytes)
    return refuseProbe(info, "This interlaced PNG is decoded whole and needs " + byteSizeText(whole) +
                                 ", more than the " + byteSizeText(maxInterlacedBytes) +
                                 " allowed: save it without interlacing");
  info.accepted = true;
}

std::unique_ptr<ImageReader> openPngReader(const ImageInfo& info, std::string& why) {
  auto r = std::make_unique<PngReader>(info);
  if (!r->start(why)) return nullptr;
  return r;
}

}  // namespace torvel
