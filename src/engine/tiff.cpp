// TIFF and BigTIFF: the probe of the tags, a reader of scanlines, and a
// writer of one row per strip, uncompressed or LZW.
#include <tiffio.h>

#include "engine/formats.h"
#include "engine/tiffio.h"

namespace torvel {

namespace {


// Layouts a plain scanline read would hand over as something else than
// interleaved unsigned RGB(A): refused with a message of their own.
const char* unsupportedLayout(TIFF* tif) {
  uint16_t planar = PLANARCONFIG_CONTIG;
  if (TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &planar) == 1 && planar != PLANARCONFIG_CONTIG)
    return "Separate color planes are not supported";
  uint16_t photometric = PHOTOMETRIC_RGB;
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) == 1 && photometric != PHOTOMETRIC_RGB)
    return "The image must be RGB or RGBA";
  uint16_t format = SAMPLEFORMAT_UINT;
  if (TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &format) == 1 && format != SAMPLEFORMAT_UINT)
    return "The samples must be unsigned integers";
  return nullptr;
}

uint16_t field16(TIFF* tif, ttag_t tag) {
  uint16_t v = 0;
  return TIFFGetField(tif, tag, &v) == 1 ? v : 0;
}

uint32_t field32(TIFF* tif, ttag_t tag) {
  uint32_t v = 0;
  return TIFFGetField(tif, tag, &v) == 1 ? v : 0;
}

}  // namespace

void probeTiff(ImageInfo& info, Prompt* prompt) {
  std::string why;
  std::unique_ptr<TiffFile> tiff = TiffFile::openRead(info.path, why);
  if (!tiff) return;  // not a TIFF the library can open: refused silently
  TIFF* tif = tiff->handle();
  info.width = field32(tif, TIFFTAG_IMAGEWIDTH);
  info.height = field32(tif, TIFFTAG_IMAGELENGTH);
  if (info.width == 0 || info.height == 0) return refuseProbe(info, prompt, "Height or Width = 0", false);
  const uint16_t bits = field16(tif, TIFFTAG_BITSPERSAMPLE), channels = field16(tif, TIFFTAG_SAMPLESPERPIXEL);
  bool ok = true;
  info.bits = bits;
  if (bits != 8 && bits != 16) {
    refuseProbe(info, prompt, "The image must be 8 or 16 bits", true);
    ok = false;
  }
  info.channels = channels;
  if (channels != 3 && channels != 4) {
    refuseProbe(info, prompt, "The number of color channels must be 3 or 4", true);
    ok = false;
  }
  info.littleEndian = true;  // the library hands samples over in the host's order
  if (ok) {
    if (const char* layout = unsupportedLayout(tif)) {
      refuseProbe(info, prompt, layout, true);
      ok = false;
    }
  }
  info.accepted = ok;
}

namespace {

class TiffLineReader : public ImageReader {
 public:
  TiffLineReader(const ImageInfo& info, std::unique_ptr<TiffFile> tiff, std::unique_ptr<uint8_t[]> line)
      : ImageReader(info), tiff_(std::move(tiff)), line_(std::move(line)) {}

  const uint8_t* readRow(uint32_t row) override {
    TIFF* tif = tiff_->handle();
    catchUpTo(row);
    if (TIFFReadScanline(tif, line_.get(), row, 0) != 1)
      return fail("row " + std::to_string(row) + ": " + tiff_->failureReason());
    return line_.get();
  }

 private:
  // Rows of a compressed strip decode only in order, and the library refuses
  // to jump into one: a crop that starts inside a strip reads the rows before it.
  void catchUpTo(uint32_t row) {
    TIFF* tif = tiff_->handle();
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (compression == COMPRESSION_NONE || TIFFIsTiled(tif) || row == TIFFCurrentRow(tif)) return;
    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip <= 1) return;
    const uint32_t stripStart = row - row % rowsPerStrip;
    const uint32_t current = TIFFCurrentRow(tif);
    for (uint32_t from = current > stripStart && current < row ? current : stripStart; from < row; ++from) {
      if (TIFFReadScanline(tif, line_.get(), from, 0) != 1) return;
    }
  }

  std::unique_ptr<TiffFile> tiff_;
  std::unique_ptr<uint8_t[]> line_;
};

class TiffWriter : public ImageWriter {
 public:
  TiffWriter(const ImageInfo& info, const std::string& path) : ImageWriter(info, path) {}

  bool open(bool lzw, bool bigTiff, std::string& why) {
    if (!allocate()) {
      why = notEnoughMemory;
      return false;
    }
    tiff_ = TiffFile::create(writePath(), bigTiff, why);
    if (!tiff_) return false;
    setTags(lzw);
    return true;
  }

 protected:
  bool putRow(const uint8_t* line) override {
    if (TIFFWriteScanline(tiff_->handle(), const_cast<uint8_t*>(line), row_, 0) != 1)
      return fail(tiff_->failureReason());
    ++row_;
    return true;
  }
  bool complete() override { return tiff_->close() || fail(tiff_->failureReason()); }
  void abandon() override { tiff_.reset(); }

 private:
  // The tags of every TIFF we write, in this order, and no others.
  void setTags(bool lzw) {
    TIFF* t = tiff_->handle();
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

  std::unique_ptr<TiffFile> tiff_;
  uint32_t row_ = 0;
};

}  // namespace

std::unique_ptr<ImageReader> openTiffReader(const ImageInfo& info, std::string& why) {
  std::unique_ptr<uint8_t[]> line = allocateLine(info.lineBytes());
  if (!line) {
    why = notEnoughMemory;
    return nullptr;
  }
  std::unique_ptr<TiffFile> tiff = TiffFile::openRead(info.path, why);
  if (!tiff) return nullptr;
  // The library writes a whole scanline into our buffer: never let a layout
  // whose lines are longer than ours through.
  if (!TIFFIsTiled(tiff->handle()) && static_cast<uint64_t>(TIFFScanlineSize64(tiff->handle())) > info.lineBytes()) {
    why = "its lines are longer than its size says";
    return nullptr;
  }
  return std::make_unique<TiffLineReader>(info, std::move(tiff), std::move(line));
}

std::unique_ptr<ImageWriter> createTiffWriter(const ImageInfo& info, const std::string& path, bool lzw,
                                              bool bigTiff, std::string& why) {
  auto w = std::make_unique<TiffWriter>(info, path);
  if (!w->open(lzw, bigTiff, why)) return nullptr;
  return w;
}

}  // namespace torvel
