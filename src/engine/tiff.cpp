// TIFF and BigTIFF: the probe of the tags, and a writer of one row per
// strip, uncompressed or LZW. The readers are in tiffreaders.cpp.
#include <tiffio.h>

#include <algorithm>
#include <thread>

#include "engine/bytefile.h"
#include "engine/files.h"
#include "engine/formatparts.h"
#include "engine/chunkencoder.h"
#include "engine/tifffile.h"
#include "engine/tifflayout.h"

namespace torvel {

namespace {

// Whether the samples per pixel fit what the pixels mean.
bool channelsFit(const TiffLayout& l) {
  switch (l.meaning) {
    case TiffLayout::Meaning::Gray:
    case TiffLayout::Meaning::Palette:
      return l.samples == 1;
    case TiffLayout::Meaning::GrayAlpha:
      return l.samples == 2;
    case TiffLayout::Meaning::JpegYCbCr:
      return l.samples == 3;
    case TiffLayout::Meaning::Rgb:
      break;
  }
  return l.samples == 3 || l.samples == 4;
}

}  // namespace

namespace {

std::string codecText(TIFF* tif, uint16_t compression) {
  const TIFFCodec* codec = TIFFFindCODEC(compression);
  std::string text = compression == COMPRESSION_NONE ? "none" : codec ? codec->name : "scheme " + std::to_string(compression);
  uint16_t predictor = 1;
  if (compression != COMPRESSION_NONE && TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor) == 1 && predictor == 2)
    text += " with horizontal predictor";
  return text;
}

// What `info` tells beside the pixels: gray, resolution, profile, storage.
void describeTiff(ImageInfo& info, TIFF* tif, const TiffLayout& l) {
  info.gray = l.meaning == TiffLayout::Meaning::Gray || l.meaning == TiffLayout::Meaning::GrayAlpha;
  info.format = TIFFIsBigTIFF(tif) ? "BigTIFF" : "TIFF";
  info.codec = codecText(tif, l.compression);
  info.storage = l.tiled ? "tiles of " + std::to_string(l.tileWidth) + " × " + std::to_string(l.tileHeight)
                         : "strips of " + std::to_string(std::min(l.rowsPerStrip, l.height)) + " rows";
  if (l.separatePlanes()) info.storage += ", planes apart";
  float x = 0, y = 0;
  uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) == 1 && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) == 1 &&
      unit != RESUNIT_NONE) {
    const double perInch = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
    info.dpiX = x * perInch;
    info.dpiY = y * perInch;
  }
  uint32_t count = 0;
  void* profile = nullptr;
  if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &count, &profile) == 1 && profile)
    info.icc.assign(static_cast<const char*>(profile), count);
}

// Why a file named as a TIFF does not open as one.
std::string openRefusal(const std::string& path, int64_t size, const std::string& why) {
  if (size == 0) return "Not a TIFF file: the file is empty";
  unsigned char head[4] = {};
  ByteFile file;
  const bool read = file.openRead(path) && file.readAt(0, head, 4) == 4;
  const bool tiffHeader = read && ((head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && !head[3]) ||
                                   (head[0] == 'M' && head[1] == 'M' && !head[2] && (head[3] == 42 || head[3] == 43)));
  if (!read && file.takeError()) return withReason("Cannot read the file", why);
  if (!tiffHeader) return "Not a TIFF file: it does not begin with a TIFF header";
  return withReason("The TIFF file is truncated or damaged", why);
}

}  // namespace

void probeTiff(ImageInfo& info) {
  std::string why;
  std::unique_ptr<TiffFile> tiff = TiffFile::openRead(info.path, why);
  if (!tiff) return refuseProbe(info, openRefusal(info.path, info.fileSize, why));
  TIFF* tif = tiff->handle();
  const TiffLayout layout = readTiffLayout(tif);
  info.width = layout.width;
  info.height = layout.height;
  if (info.width == 0 || info.height == 0) return refuseProbe(info, "Height or Width = 0");
  bool ok = true;
  info.bits = layout.bits;
  if (layout.bits != 8 && layout.bits != 16) {
    refuseProbe(info, "The image must be 8 or 16 bits");
    ok = false;
  }
  info.channels = channelsFit(layout) ? layout.readChannels() : layout.samples;
  if (!channelsFit(layout)) {
    refuseProbe(info, "The number of color channels must be 3 or 4");
    ok = false;
  }
  info.littleEndian = true;  // the library hands samples over in the host's order
  const std::string refusal = ok ? tiffLayoutRefusal(tif, layout, info.fileSize) : "";
  if (!refusal.empty()) refuseProbe(info, refusal);
  info.accepted = ok && refusal.empty();
  if (!info.accepted) return;
  info.fileLayout = layout.meaningText();
  info.fileChannels = layout.samples;
  info.pages = TIFFNumberOfDirectories(tif);
  describeTiff(info, tif, layout);
  // A pyramid's reduced levels follow the full image, each marked as one.
  for (uint32_t page = 1; page < info.pages && TIFFSetDirectory(tif, static_cast<tdir_t>(page)); ++page) {
    uint32_t type = 0;
    if (TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &type) && (type & FILETYPE_REDUCEDIMAGE)) ++info.reducedLevels;
  }
}

namespace {

class TiffWriter : public ImageWriter {
 public:
  TiffWriter(const ImageInfo& info, std::unique_ptr<PartFile> part) : ImageWriter(info, std::move(part)) {}

  bool open(bool lzw, bool bigTiff, std::string& why) {
    if (!allocate()) {
      why = rowMemoryText(info());
      return false;
    }
    tiff_ = TiffFile::create(takeDescriptor(), writePath(), bigTiff, why);
    if (!tiff_) return false;
    setTags(tiff_->handle(), lzw);
    return !lzw || startEncoder(bigTiff, why);
  }
  bool writesRowsDirectly() const override { return !encoder_; }

 protected:
  bool putRow(const uint8_t* line) override {
    if (encoder_) {
      std::string why;
      if (!encoder_->add(line, info().lineBytes(), writeStrip_, why))
        return fail(why.empty() ? tiff_->failureReason() : why);
    } else {
      // An uncompressed row is its own strip: handed over raw, without the codec's copy.
      const tmsize_t n = static_cast<tmsize_t>(info().lineBytes());
      if (TIFFWriteRawStrip(tiff_->handle(), row_, const_cast<uint8_t*>(line), n) != n)
        return fail(tiff_->failureReason());
    }
    ++row_;
    return true;
  }
  // Uncompressed rows handed over together go to the file from where they
  // are; the library then records each as its strip.
  bool putRows(const uint8_t* first, size_t stride, uint32_t count) override {
    const size_t bytes = static_cast<size_t>(info().lineBytes());
    if (encoder_ || count * bytes < directRowsBytes) return ImageWriter::putRows(first, stride, count);
    if (!tiff_->placeRows(first, stride, bytes, count)) return fail(tiff_->failureReason());
    for (uint32_t i = 0; i < count; ++i)
      if (!putRow(first + i * stride)) return false;
    return tiff_->placedRowsTaken() || fail("the library did not write the rows where they were placed");
  }
  // An uncompressed row is made where the file's buffer will hold it.
  uint8_t* rowBuffer() override {
    uint8_t* inPlace = encoder_ ? nullptr : tiff_->appendSpace(info().lineBytes());
    return inPlace ? inPlace : ImageWriter::rowBuffer();
  }
  bool complete() override {
    std::string why;
    if (encoder_ && !encoder_->drain(writeStrip_, why)) return fail(why.empty() ? tiff_->failureReason() : why);
    return tiff_->close() || fail(tiff_->failureReason());
  }
  void abandon() override {
    encoder_.reset();
    tiff_.reset();
  }

 private:
  // The tags of every TIFF we write, in this order, and no others.
  void setTags(TIFF* t, bool lzw) const {
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, info().width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, info().height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(info().bits));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(3));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(1));
    TIFFSetField(t, TIFFTAG_COMPRESSION, static_cast<uint16_t>(lzw ? COMPRESSION_LZW : COMPRESSION_NONE));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(PHOTOMETRIC_RGB));
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 240.0);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, 240.0);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, static_cast<uint16_t>(RESUNIT_INCH));
  }

  // LZW strips are compressed on every core and written raw, in order.
  bool startEncoder(bool bigTiff, std::string& why) {
    const size_t queue = std::clamp<uint64_t>((uint64_t{64} << 20) / info().lineBytes(), 4, 64);
    encoder_ = std::make_unique<ChunkEncoder>(
        ChunkEncoder::Settings{[this](TIFF* t) { setTags(t, true); }, false, bigTiff},
        std::max(1u, std::thread::hardware_concurrency()), queue);
    writeStrip_ = [this](uint32_t strip, const std::vector<uint8_t>& bytes) {
      const tmsize_t n = static_cast<tmsize_t>(bytes.size());
      return TIFFWriteRawStrip(tiff_->handle(), strip, const_cast<uint8_t*>(bytes.data()), n) == n;
    };
    return encoder_->start(why);
  }

  std::unique_ptr<TiffFile> tiff_;
  std::unique_ptr<ChunkEncoder> encoder_;
  ChunkEncoder::ChunkWriter writeStrip_;
  uint32_t row_ = 0;
};

}  // namespace

std::unique_ptr<ImageWriter> createTiffOutput(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                              std::string& why) {
  if (setup.format.tuned) return createTunedTiffWriter(setup, std::move(part), why);
  auto w = std::make_unique<TiffWriter>(setup.info, std::move(part));
  if (!w->open(setup.format.lzw, setup.bigTiff, why)) return nullptr;
  return w;
}

}  // namespace torvel
