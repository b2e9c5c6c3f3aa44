// PNG outputs through libpng, a row at a time: gray, gray + alpha, RGB or
// RGBA, 8 or 16 bits (big-endian rows, as the format stores them), with the
// resolution and the colour profile of the input.
#include <png.h>

#include <cmath>
#include <csetjmp>

#include "engine/formatparts.h"
#include "engine/streamwriter.h"

namespace torvel {

namespace {

struct PngOut {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::string message;
  ~PngOut() {
    if (png) png_destroy_write_struct(&png, &info);
  }
};

[[noreturn]] void onError(png_structp png, png_const_charp message) {
  static_cast<PngOut*>(png_get_error_ptr(png))->message = message;
  png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

int colourType(int channels) {
  switch (channels) {
    case 1:
      return PNG_COLOR_TYPE_GRAY;
    case 2:
      return PNG_COLOR_TYPE_GRAY_ALPHA;
    case 4:
      return PNG_COLOR_TYPE_RGB_ALPHA;
  }
  return PNG_COLOR_TYPE_RGB;
}

bool writeHeader(PngOut& o, FILE* file, const ImageInfo& info, int level) {
  if (setjmp(png_jmpbuf(o.png))) return false;
  png_init_io(o.png, file);
  png_set_IHDR(o.png, o.info, info.width, info.height, info.bits, colourType(info.channels), PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (level >= 0) png_set_compression_level(o.png, level);
  if (info.dpiX > 0 && info.dpiY > 0)
    png_set_pHYs(o.png, o.info, static_cast<png_uint_32>(std::lround(info.dpiX / 0.0254)),
                 static_cast<png_uint_32>(std::lround(info.dpiY / 0.0254)), PNG_RESOLUTION_METER);
  if (!info.icc.empty())
    png_set_iCCP(o.png, o.info, "ICC profile", 0, reinterpret_cast<png_const_bytep>(info.icc.data()),
                 static_cast<png_uint_32>(info.icc.size()));
  png_write_info(o.png, o.info);
  return true;
}

bool writePngRow(PngOut& o, const uint8_t* row) {
  if (setjmp(png_jmpbuf(o.png))) return false;
  png_write_row(o.png, row);
  return true;
}

bool writeEnd(PngOut& o) {
  if (setjmp(png_jmpbuf(o.png))) return false;
  png_write_end(o.png, nullptr);
  return true;
}

class PngWriter : public StreamWriter {
 public:
  using StreamWriter::StreamWriter;

  bool open(int level, std::string& why) {
    if (!openStream(why)) return false;
    out_.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &out_, onError, onWarning);
    if (out_.png) out_.info = png_create_info_struct(out_.png);
    if (out_.info && writeHeader(out_, file_.get(), info(), level)) return true;
    why = out_.message.empty() ? "cannot start the PNG file" : out_.message;
    return false;
  }

 protected:
  bool putRow(const uint8_t* line) override {
    return writePngRow(out_, line) || fail(out_.message);
  }
  bool endEncoding() override { return writeEnd(out_) || fail(out_.message); }

 private:
  PngOut out_;
};

}  // namespace

std::unique_ptr<ImageWriter> createPngOutput(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                             std::string& why) {
  auto w = std::make_unique<PngWriter>(setup.info, std::move(part));
  if (!w->open(setup.format.level, why)) return nullptr;
  return w;
}

}  // namespace torvel
