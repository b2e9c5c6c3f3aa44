// JPEG inputs through libjpeg-turbo, a scanline at a time (rows come only
// in order: an earlier row starts the file again). A progressive file is
// decoded through a whole-image buffer of coefficients, allowed up to a
// bound; CMYK files are refused. libjpeg reports errors by a long jump:
// every function that sets the jump holds no object that needs destroying.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "engine/formatparts.h"
#include "engine/jpegerrors.h"
#include "engine/stdiofile.h"
#include "engine/text.h"

namespace torvel {

namespace {

// The largest buffer of coefficients a progressive JPEG may need.
constexpr uint64_t maxProgressiveBytes = uint64_t{1} << 30;

struct JpegIn {
  jpeg_decompress_struct cinfo{};
  JpegErrors errors;
  bool created = false;
  ~JpegIn() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

bool readJpegHeader(JpegIn& in, FILE* file) {
  in.cinfo.err = in.errors.attach();
  if (setjmp(in.errors.jump)) return false;
  jpeg_create_decompress(&in.cinfo);
  in.created = true;
  jpeg_stdio_src(&in.cinfo, file);
  jpeg_save_markers(&in.cinfo, JPEG_APP0 + 1, 0xFFFF);  // EXIF
  jpeg_save_markers(&in.cinfo, JPEG_APP0 + 2, 0xFFFF);  // ICC profile
  jpeg_read_header(&in.cinfo, TRUE);
  return true;
}

bool startJpegDecoding(JpegIn& in, uint64_t memoryBound) {
  if (setjmp(in.errors.jump)) return false;
  in.cinfo.out_color_space = JCS_RGB;  // gray is expanded by the library
  in.cinfo.mem->max_memory_to_use = static_cast<long>(memoryBound);
  jpeg_start_decompress(&in.cinfo);
  return true;
}

bool readJpegRow(JpegIn& in, uint8_t* row) {
  if (setjmp(in.errors.jump)) return false;
  JSAMPROW rows[1] = {row};
  return jpeg_read_scanlines(&in.cinfo, rows, 1) == 1;
}

// The buffer of coefficients a progressive file is decoded through.
uint64_t coefficientBytes(const jpeg_decompress_struct& c) {
  uint64_t bytes = 0;
  for (int k = 0; k < c.num_components; ++k)
    bytes += uint64_t{c.comp_info[k].width_in_blocks} * c.comp_info[k].height_in_blocks * DCTSIZE2 * sizeof(JCOEF);
  return bytes;
}

void describeJpeg(ImageInfo& info, jpeg_decompress_struct& c) {
  info.width = c.image_width;
  info.height = c.image_height;
  info.bits = 8;
  info.channels = 3;
  info.gray = c.jpeg_color_space == JCS_GRAYSCALE;
  if (info.gray) {
    info.fileChannels = 1;
    info.fileLayout = "gray";
  }
  info.format = "JPEG";
  info.codec = c.progressive_mode ? "JPEG, progressive" : "JPEG";
  info.storage = "rows";
  if (c.saw_JFIF_marker && c.density_unit == 1) info.dpiX = c.X_density, info.dpiY = c.Y_density;
  if (c.saw_JFIF_marker && c.density_unit == 2) info.dpiX = c.X_density * 2.54, info.dpiY = c.Y_density * 2.54;
  JOCTET* profile = nullptr;
  unsigned int length = 0;
  if (jpeg_read_icc_profile(&c, &profile, &length)) {
    info.icc.assign(profile, profile + length);
    std::free(profile);
  }
  info.orientation = exifOrientation(c);
}

// Why the file cannot be read; empty when it can.
std::string jpegRefusal(const jpeg_decompress_struct& c) {
  if (c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK)
    return "CMYK JPEG images are not read: convert the image to RGB first";
  if (c.jpeg_color_space != JCS_GRAYSCALE && c.jpeg_color_space != JCS_YCbCr && c.jpeg_color_space != JCS_RGB)
    return "The colour space of this JPEG is not read";
  if (c.progressive_mode && coefficientBytes(c) > maxProgressiveBytes)
    return "This progressive JPEG is decoded whole and needs " + byteSizeText(coefficientBytes(c)) + ", more than the " +
           byteSizeText(maxProgressiveBytes) + " allowed: save it as a baseline JPEG";
  return {};
}

class JpegReader : public ImageReader {
 public:
  explicit JpegReader(const ImageInfo& info) : ImageReader(info) {}
  bool start(std::string& why);
  bool sequential() const override { return true; }
  const uint8_t* readRow(uint32_t row) override;

 private:
  StdioFile file_;
  std::unique_ptr<JpegIn> in_;
  std::unique_ptr<uint8_t[]> line_;
  uint32_t next_ = 0;
};

// Opens (or opens again) the file and readies its first row.
bool JpegReader::start(std::string& why) {
  in_.reset();
  file_.close(why);
  next_ = 0;
  in_ = std::make_unique<JpegIn>();
  if (!file_.openRead(info_.path, why)) return false;
  if (!readJpegHeader(*in_, file_.get()) || !startJpegDecoding(*in_, maxProgressiveBytes + (uint64_t{64} << 20))) {
    why = in_->errors.message;
    return false;
  }
  if (in_->cinfo.output_width != info_.width || in_->cinfo.output_height != info_.height ||
      in_->cinfo.output_components != 3) {
    why = "the file has changed since it was chosen";
    return false;
  }
  if (!line_ && !(line_ = allocateLine(info_.lineBytes()))) why = rowMemoryText(info_);
  return line_ != nullptr;
}

const uint8_t* JpegReader::readRow(uint32_t row) {
  std::string why;
  if (row < next_ && !start(why)) return fail(why);
  while (next_ <= row) {
    if (cancelRequested()) return fail("cancelled");
    if (!readJpegRow(*in_, line_.get()))
      return fail("row " + std::to_string(next_) + ": " +
                  (in_->errors.message.empty() ? "the file ends before the image does" : in_->errors.message));
    ++next_;
  }
  return line_.get();
}

}  // namespace

void probeJpeg(ImageInfo& info) {
  std::string why;
  StdioFile file;
  JpegIn in;
  if (!file.openRead(info.path, why)) return refuseProbe(info, withReason("Cannot read " + info.path, why));
  if (!readJpegHeader(in, file.get()))
    return refuseProbe(info, withReason("The JPEG file is damaged or truncated", in.errors.message));
  describeJpeg(info, in.cinfo);
  if (std::string refusal = jpegRefusal(in.cinfo); !refusal.empty()) return refuseProbe(info, refusal);
  if (info.width == 0 || info.height == 0) return refuseProbe(info, "Height or Width = 0");
  info.accepted = true;
}

std::unique_ptr<ImageReader> openJpegReader(const ImageInfo& info, std::string& why) {
  auto r = std::make_unique<JpegReader>(info);
  if (!r->start(why)) return nullptr;
  return r;
}

}  // namespace torvel
