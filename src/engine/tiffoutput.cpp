// The new TIFF writer: none, LZW, Deflate, ZSTD, JPEG or WebP, with the
// horizontal predictor where it applies, in strips of several rows or in
// tiles (with reduced-resolution levels for a pyramid), keeping alpha, gray,
// 16 bits, the resolution and the colour profile. Chunks are coded on every core by the library's own codec (the
// same bytes as one thread would make) and written raw, in order; tiles are
// cut from one band of rows held at a time.
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "engine/chunkencoder.h"
#include "engine/files.h"
#include "engine/formatparts.h"
#include "engine/tifffile.h"
#include "engine/tifflevels.h"

namespace torvel {

namespace {

uint16_t scheme(Codec codec) {
  switch (codec) {
    case Codec::Lzw:
      return COMPRESSION_LZW;
    case Codec::Deflate:
      return COMPRESSION_ADOBE_DEFLATE;
    case Codec::Zstd:
      return COMPRESSION_ZSTD;
    case Codec::Jpeg:
      return COMPRESSION_JPEG;
    case Codec::WebP:
      return COMPRESSION_WEBP;
    case Codec::None:
      break;
  }
  return COMPRESSION_NONE;
}

// Rows of a strip: about 256 kB of samples, a multiple of 16 for JPEG.
uint32_t stripRows(const ImageInfo& info, const OutputFormat& f) {
  if (f.rowsPerStrip) return std::min(f.rowsPerStrip, info.height);
  uint32_t rows = static_cast<uint32_t>(std::max<uint64_t>(1, (uint64_t{256} << 10) / info.lineBytes()));
  if (f.codec == Codec::Jpeg) rows = std::max<uint32_t>(16, rows / 16 * 16);
  return std::min(rows, info.height);
}

void setCodecTags(TIFF* t, const ImageInfo& info, const OutputFormat& f) {
  TIFFSetField(t, TIFFTAG_COMPRESSION, scheme(f.codec));
  const bool differencing = f.codec == Codec::Lzw || f.codec == Codec::Deflate || f.codec == Codec::Zstd;
  if (differencing && f.predictor) TIFFSetField(t, TIFFTAG_PREDICTOR, static_cast<uint16_t>(PREDICTOR_HORIZONTAL));
  if (f.codec == Codec::Deflate && f.level > 0) TIFFSetField(t, TIFFTAG_ZIPQUALITY, f.level);
  if (f.codec == Codec::Zstd && f.level > 0) TIFFSetField(t, TIFFTAG_ZSTD_LEVEL, f.level);
  if (f.codec == Codec::WebP) {
    TIFFSetField(t, TIFFTAG_WEBP_LEVEL, f.quality);
    TIFFSetField(t, TIFFTAG_WEBP_LOSSLESS, f.lossless ? 1 : 0);
  }
  if (f.codec != Codec::Jpeg) return;
  TIFFSetField(t, TIFFTAG_JPEGQUALITY, f.quality);
  if (info.channels == 3) TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);  // we hand over RGB
}

void setPhotometric(TIFF* t, const ImageInfo& info, const OutputFormat& f) {
  const bool ycbcr = f.codec == Codec::Jpeg && info.channels == 3;
  if (info.channels < 3)
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(PHOTOMETRIC_MINISBLACK));
  else
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(ycbcr ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB));
  if (ycbcr) {
    const uint16_t sub = f.chroma444 ? 1 : 2;
    TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, sub, sub);
    float reference[6] = {0, 255, 128, 255, 128, 255};
    TIFFSetField(t, TIFFTAG_REFERENCEBLACKWHITE, reference);
  }
  if (info.channels == 2 || info.channels == 4) {
    const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), &alpha);
  }
}

// The tags of the file, and of every encoder's handle, alike.
void setTunedTags(TIFF* t, const ImageInfo& info, const OutputFormat& f, uint32_t rowsPerStrip) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, info.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, info.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(info.bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(info.channels));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG));
  setPhotometric(t, info, f);
  setCodecTags(t, info, f);
  if (f.tileSide) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, f.tileSide);
    TIFFSetField(t, TIFFTAG_TILELENGTH, f.tileSide);
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  }
  if (info.dpiX > 0 && info.dpiY > 0) {
    TIFFSetField(t, TIFFTAG_XRESOLUTION, info.dpiX);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, info.dpiY);
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, static_cast<uint16_t>(RESUNIT_INCH));
  }
  if (!info.icc.empty()) TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(info.icc.size()), info.icc.data());
}

class TunedTiffWriter : public ImageWriter {
 public:
  TunedTiffWriter(const WriterSetup& setup, std::unique_ptr<PartFile> part)
      : ImageWriter(setup.info, std::move(part)), format_(setup.format) {}
  bool open(bool bigTiff, std::string& why);

 protected:
  bool putRow(const uint8_t* line) override;
  bool complete() override;
  void abandon() override {
    encoder_.reset();
    tiff_.reset();
  }

 private:
  bool emitBand(uint32_t rows);
  bool emitTiles(uint32_t rows);
  bool added(bool ok, const std::string& why) { return ok || fail(why.empty() ? tiff_->failureReason() : why); }

  OutputFormat format_;
  std::unique_ptr<TiffFile> tiff_;
  std::unique_ptr<ChunkEncoder> encoder_;
  std::unique_ptr<TiffLevels> levels_;  // a pyramid's reduced levels
  ChunkEncoder::ChunkWriter writeChunk_;
  uint32_t chunkRows_ = 0, row_ = 0;
  std::vector<uint8_t> band_;
};

bool TunedTiffWriter::open(bool bigTiff, std::string& why) {
  if (!allocate()) {
    why = rowMemoryText(info());
    return false;
  }
  tiff_ = TiffFile::create(takeDescriptor(), writePath(), bigTiff, why);
  if (!tiff_) return false;
  const uint32_t rows = stripRows(info(), format_);
  chunkRows_ = format_.tileSide ? format_.tileSide : rows;
  setTunedTags(tiff_->handle(), info(), format_, rows);
  band_.resize(size_t(chunkRows_) * info().lineBytes());
  const size_t chunk = format_.tileSide ? size_t(format_.tileSide) * format_.tileSide * info().bytesPerPixel()
                                        : band_.size();
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  // Enough chunks in flight to keep every core busy while the next band is
  // read, about 2 MB of them: more only adds memory (a pyramid's levels
  // hold their own).
  const size_t queue = std::clamp<size_t>((size_t{2} << 20) / chunk, 2 * cores, 64);
  encoder_ = std::make_unique<ChunkEncoder>(
      ChunkEncoder::Settings{[this, rows](TIFF* t) { setTunedTags(t, info(), format_, rows); }, format_.tileSide != 0,
                             bigTiff},
      cores, queue);
  const bool tiled = format_.tileSide != 0;
  writeChunk_ = [this, tiled](uint32_t index, const std::vector<uint8_t>& bytes) {
    const tmsize_t n = static_cast<tmsize_t>(bytes.size());
    auto* data = const_cast<uint8_t*>(bytes.data());
    return (tiled ? TIFFWriteRawTile(tiff_->handle(), index, data, n) : TIFFWriteRawStrip(tiff_->handle(), index, data, n)) == n;
  };
  if (!encoder_->start(why)) return false;
  const std::vector<uint8_t> tables = encoder_->jpegTables();
  if (!tables.empty()) TIFFSetField(tiff_->handle(), TIFFTAG_JPEGTABLES, static_cast<uint32_t>(tables.size()), tables.data());
  if (!format_.pyramid || !tiled) return true;
  levels_ = std::make_unique<TiffLevels>(info(), format_.tileSide, [this, rows](TIFF* t, const LevelSize& size) {
    ImageInfo level = info();
    level.width = size.width;
    level.height = size.height;
    setTunedTags(t, level, format_, rows);
  });
  return levels_->start(folderOf(writePath()), why);
}

bool TunedTiffWriter::putRow(const uint8_t* line) {
  const size_t bytes = static_cast<size_t>(info().lineBytes());
  uint8_t* kept = band_.data() + (row_ % chunkRows_) * bytes;
  std::memcpy(kept, line, bytes);
  // The band holds an even number of rows: a row stays there until the next.
  std::string why;
  if (levels_ && !levels_->addRow(kept, chunkRows_ % 2 == 0, why)) return fail(why.empty() ? tiff_->failureReason() : why);
  ++row_;
  if (row_ % chunkRows_ != 0 && row_ != info().height) return true;
  const uint32_t rows = row_ % chunkRows_ ? row_ % chunkRows_ : chunkRows_;
  return format_.tileSide ? emitTiles(rows) : emitBand(rows);
}

bool TunedTiffWriter::emitBand(uint32_t rows) {
  std::string why;
  return added(encoder_->add(band_.data(), size_t(rows) * info().lineBytes(), writeChunk_, why), why);
}

// The tiles of a band, left to right, cut straight into the encoder's queue;
// beyond the image's edges they hold zeros.
bool TunedTiffWriter::emitTiles(uint32_t rows) {
  const size_t pixel = static_cast<size_t>(info().bytesPerPixel()), side = format_.tileSide;
  const size_t line = static_cast<size_t>(info().lineBytes()), tileLine = side * pixel;
  for (uint32_t x0 = 0; x0 < info().width; x0 += format_.tileSide) {
    const size_t used = std::min<size_t>(side, info().width - x0) * pixel;
    const auto cut = [&](uint8_t* tile) {
      for (size_t r = 0; r < rows; ++r) {
        std::memcpy(tile + r * tileLine, &band_[r * line + x0 * pixel], used);
        std::memset(tile + r * tileLine + used, 0, tileLine - used);
      }
      std::memset(tile + rows * tileLine, 0, (side - rows) * tileLine);
    };
    std::string why;
    if (!added(encoder_->add(side * tileLine, cut, writeChunk_, why), why)) return false;
  }
  return true;
}

bool TunedTiffWriter::complete() {
  std::string why;
  if (!encoder_->drain(writeChunk_, why)) return fail(why.empty() ? tiff_->failureReason() : why);
  if (levels_ && !levels_->write(tiff_->handle(), why)) return fail(why.empty() ? tiff_->failureReason() : why);
  return tiff_->close() || fail(tiff_->failureReason());
}

}  // namespace

std::unique_ptr<ImageWriter> createTunedTiffWriter(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                                   std::string& why) {
  auto w = std::make_unique<TunedTiffWriter>(setup, std::move(part));
  if (!w->open(setup.bigTiff, why)) return nullptr;
  return w;
}

}  // namespace torvel
