// JPEG outputs through libjpeg-turbo, a scanline at a time: 8-bit RGB or
// gray, the quality and the chroma subsampling chosen, with the input's
// resolution and colour profile.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

#include <cmath>
#include <csetjmp>

#include "engine/formatparts.h"
#include "engine/jpegerrors.h"
#include "engine/streamwriter.h"

namespace torvel {

namespace {

struct JpegOut {
  jpeg_compress_struct cinfo{};
  JpegErrors errors;
  bool created = false;
  ~JpegOut() {
    if (created) jpeg_destroy_compress(&cinfo);
  }
};

void setResolution(jpeg_compress_struct& c, const ImageInfo& info) {
  if (info.dpiX <= 0 || info.dpiY <= 0) return;
  c.density_unit = 1;  // dots per inch
  c.X_density = static_cast<UINT16>(std::lround(std::min(info.dpiX, 65535.0)));
  c.Y_density = static_cast<UINT16>(std::lround(std::min(info.dpiY, 65535.0)));
}

bool startJpeg(JpegOut& o, FILE* file, const ImageInfo& info, const OutputFormat& format) {
  o.cinfo.err = o.errors.attach();
  if (setjmp(o.errors.jump)) return false;
  jpeg_create_compress(&o.cinfo);
  o.created = true;
  jpeg_stdio_dest(&o.cinfo, file);
  o.cinfo.image_width = info.width;
  o.cinfo.image_height = info.height;
  o.cinfo.input_components = info.channels;
  o.cinfo.in_color_space = info.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&o.cinfo);
  jpeg_set_quality(&o.cinfo, format.quality, TRUE);
  if (format.chroma444)
    for (int k = 0; k < o.cinfo.num_components; ++k) o.cinfo.comp_info[k].h_samp_factor = o.cinfo.comp_info[k].v_samp_factor = 1;
  setResolution(o.cinfo, info);
  jpeg_start_compress(&o.cinfo, TRUE);
  if (!info.icc.empty())
    jpeg_write_icc_profile(&o.cinfo, reinterpret_cast<const JOCTET*>(info.icc.data()),
                           static_cast<unsigned>(info.icc.size()));
  return true;
}

bool writeJpegRow(JpegOut& o, const uint8_t* row) {
  if (setjmp(o.errors.jump)) return false;
  JSAMPROW rows[1] = {const_cast<uint8_t*>(row)};
  jpeg_write_scanlines(&o.cinfo, rows, 1);
  return true;
}

bool finishJpeg(JpegOut& o) {
  if (setjmp(o.errors.jump)) return false;
  jpeg_finish_compress(&o.cinfo);
  return true;
}

class JpegWriter : public StreamWriter {
 public:
  using StreamWriter::StreamWriter;

  bool open(const OutputFormat& format, std::string& why) {
    if (!openStream(why)) return false;
    if (startJpeg(out_, file_.get(), info(), format)) return true;
    why = out_.errors.message;
    return false;
  }

 protected:
  bool putRow(const uint8_t* line) override { return writeJpegRow(out_, line) || fail(out_.errors.message); }
  bool endEncoding() override { return finishJpeg(out_) || fail(out_.errors.message); }

 private:
  JpegOut out_;
};

}  // namespace

std::unique_ptr<ImageWriter> createJpegOutput(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                              std::string& why) {
  auto w = std::make_unique<JpegWriter>(setup.info, std::move(part));
  if (!w->open(setup.format, why)) return nullptr;
  return w;
}

}  // namespace torvel
