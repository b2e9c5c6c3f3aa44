// The TIFF readers: scanlines of strips (samples together, or one plane per
// handle), and tiles decoded a row of tiles at a time on every core. Each
// hands out our lines: the file's samples expanded to RGB or RGBA.
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "engine/files.h"
#include "engine/formatparts.h"
#include "engine/plainlines.h"
#include "engine/tifffile.h"
#include "engine/tifflayout.h"

namespace torvel {

namespace {

std::string rowText(uint32_t row) { return "row " + std::to_string(row) + ": "; }

// Rows of a compressed strip decode only in order, and the library refuses to
// jump into one: a crop that starts inside a strip reads the rows before it.
void catchUpTo(TIFF* tif, const TiffLayout& l, uint8_t* buf, uint32_t row, uint16_t plane) {
  if (l.compression == COMPRESSION_NONE || l.rowsPerStrip <= 1 || row == TIFFCurrentRow(tif)) return;
  const uint32_t stripStart = row - row % l.rowsPerStrip;
  const uint32_t current = TIFFCurrentRow(tif);
  for (uint32_t from = current > stripStart && current < row ? current : stripStart; from < row; ++from)
    if (TIFFReadScanline(tif, buf, from, plane) != 1) return;
}

// What every TIFF reader shares: the layout, and the expansion of the file's
// samples into our line when they are not ours already.
class TiffReader : public ImageReader {
 public:
  TiffReader(const ImageInfo& info, TiffLayout layout) : ImageReader(info), layout_(std::move(layout)) {}
  // Readies the buffers (a row of the file's samples when `fileRow`); false
  // when memory cannot be had.
  bool allocate(bool fileRow) {
    if (fileRow && !(fileRow_ = allocateLine(fileRowBytes()))) return false;
    return expand_.identity() || (line_ = allocateLine(info_.lineBytes()));
  }

 protected:
  const uint8_t* deliver(const uint8_t* fileRow) {
    if (expand_.identity()) return fileRow;
    expand_(fileRow, line_.get(), info_.width);
    return line_.get();
  }
  uint64_t fileRowBytes() const { return uint64_t{layout_.width} * static_cast<uint64_t>(layout_.fileBytesPerPixel()); }

  const TiffLayout layout_;
  const SampleExpander expand_{layout_};
  std::unique_ptr<uint8_t[]> fileRow_;
  std::unique_ptr<uint8_t[]> line_;
};

// Uncompressed strips of plain RGB(A) in the host's byte order hold our lines
// as they are: read straight from the file, a run of adjacent rows at a time.
class TiffStoredRowsReader : public StoredRowsReader {
 public:
  TiffStoredRowsReader(const ImageInfo& info, std::vector<uint64_t> stripOffsets, uint32_t rowsPerStrip)
      : StoredRowsReader(info), stripOffsets_(std::move(stripOffsets)), rowsPerStrip_(rowsPerStrip) {}

 private:
  int64_t storedRowOffset(uint32_t row) const override {
    return static_cast<int64_t>(stripOffsets_[row / rowsPerStrip_] + (row % rowsPerStrip_) * info_.lineBytes());
  }
  std::vector<uint64_t> stripOffsets_;
  uint32_t rowsPerStrip_;
};

// The strip offsets when every strip holds its rows uncompressed and whole;
// empty when the file is not so simple.
std::vector<uint64_t> storedStripOffsets(TIFF* tif, const TiffLayout& l) {
  const bool plain = !l.tiled && !l.separatePlanes() && l.compression == COMPRESSION_NONE &&
                     l.meaning == TiffLayout::Meaning::Rgb && (l.bits == 8 || !TIFFIsByteSwapped(tif));
  if (!plain || l.rowsPerStrip == 0) return {};
  const uint64_t line = uint64_t{l.width} * static_cast<uint64_t>(l.fileBytesPerPixel());
  std::vector<uint64_t> offsets(TIFFNumberOfStrips(tif));
  for (uint32_t s = 0; s < offsets.size(); ++s) {
    const uint64_t rows = std::min<uint64_t>(l.rowsPerStrip, l.height - uint64_t{s} * l.rowsPerStrip);
    if (TIFFGetStrileByteCount(tif, s) < rows * line) return {};
    offsets[s] = TIFFGetStrileOffset(tif, s);
  }
  return offsets;
}

// Strips with their samples together: one scanline at a time.
class TiffScanlineReader : public TiffReader {
 public:
  TiffScanlineReader(const ImageInfo& info, TiffLayout layout, std::unique_ptr<TiffFile> tiff)
      : TiffReader(info, std::move(layout)), tiff_(std::move(tiff)) {}

  const uint8_t* readRow(uint32_t row) override {
    TIFF* tif = tiff_->handle();
    catchUpTo(tif, layout_, fileRow_.get(), row, 0);
    if (TIFFReadScanline(tif, fileRow_.get(), row, 0) != 1) return fail(rowText(row) + tiff_->failureReason());
    return deliver(fileRow_.get());
  }

 private:
  std::unique_ptr<TiffFile> tiff_;
};

// Strips with one plane per sample: each plane read by a handle of its own,
// so each decodes its strips in order, then the samples interleaved.
class TiffPlaneReader : public TiffReader {
 public:
  TiffPlaneReader(const ImageInfo& info, TiffLayout layout, std::vector<std::unique_ptr<TiffFile>> planes)
      : TiffReader(info, std::move(layout)), planes_(std::move(planes)) {}

  bool allocatePlane() {
    plane_ = allocateLine(uint64_t{layout_.width} * static_cast<uint64_t>(layout_.bytesPerSample()));
    return plane_ != nullptr;
  }

  const uint8_t* readRow(uint32_t row) override {
    const size_t bps = static_cast<size_t>(layout_.bytesPerSample()), step = layout_.samples * bps;
    for (uint16_t s = 0; s < layout_.samples; ++s) {
      TIFF* tif = planes_[s]->handle();
      catchUpTo(tif, layout_, plane_.get(), row, s);
      if (TIFFReadScanline(tif, plane_.get(), row, s) != 1)
        return fail(rowText(row) + "plane " + std::to_string(s) + ": " + planes_[s]->failureReason());
      for (uint32_t x = 0; x < layout_.width; ++x) std::memcpy(fileRow_.get() + x * step + s * bps, plane_.get() + x * bps, bps);
    }
    return deliver(fileRow_.get());
  }

 private:
  std::vector<std::unique_ptr<TiffFile>> planes_;
  std::unique_ptr<uint8_t[]> plane_;
};

// Tiles: one row of tiles (a band) decoded at a time, the tiles shared out
// among handles of their own, one per core; rows are served from the band.
class TiffTileReader : public TiffReader {
 public:
  TiffTileReader(const ImageInfo& info, TiffLayout layout, std::vector<std::unique_ptr<TiffFile>> handles)
      : TiffReader(info, std::move(layout)), handles_(std::move(handles)),
        lastTile_((layout_.width - 1) / layout_.tileWidth) {}

  bool allocateBand() {
    band_ = allocateLine(fileRowBytes() * layout_.tileHeight);
    tileBytes_ = static_cast<uint64_t>(TIFFTileSize64(handles_.front()->handle()));
    for (size_t k = 0; k < handles_.size(); ++k) tiles_.push_back(allocateLine(tileBytes_));
    return band_ && std::all_of(tiles_.begin(), tiles_.end(), [](const auto& t) { return t != nullptr; });
  }
  uint64_t tileBytes() const { return tileBytes_; }
  uint32_t tileHeight() const { return layout_.tileHeight; }
  // The band and the tile buffers of every decoding thread.
  uint64_t bandBytes() const { return fileRowBytes() * layout_.tileHeight + handles_.size() * tileBytes_; }
  uint64_t expectedTileBytes() const {
    const int samples = layout_.separatePlanes() ? 1 : layout_.samples;
    return uint64_t{layout_.tileWidth} * layout_.tileHeight * static_cast<uint64_t>(samples * layout_.bytesPerSample());
  }

  void useColumns(uint32_t first, uint32_t count) override {
    firstTile_ = first / layout_.tileWidth;
    lastTile_ = (first + (count ? count - 1 : 0)) / layout_.tileWidth;
    loaded_ = noBand;
  }

  const uint8_t* readRow(uint32_t row) override {
    const uint32_t band = row / layout_.tileHeight;
    if (band != loaded_) {
      loaded_ = noBand;
      std::string why;
      if (!loadBand(band, why)) return fail(rowText(row) + why);
      loaded_ = band;
    }
    return deliver(band_.get() + (row - band * layout_.tileHeight) * fileRowBytes());
  }

 private:
  static constexpr uint32_t noBand = UINT32_MAX;

  bool loadBand(uint32_t band, std::string& why) {
    const uint32_t planes = layout_.separatePlanes() ? layout_.samples : 1;
    const uint32_t items = (lastTile_ - firstTile_ + 1) * planes;
    const size_t workers = std::min<size_t>(handles_.size(), items);
    std::vector<std::string> errors(workers);
    // A thread's failure, a lack of memory included, comes back as its error;
    // a cancel ends the band between two tiles.
    auto work = [&](size_t k) {
      try {
        for (uint32_t i = static_cast<uint32_t>(k); i < items; i += static_cast<uint32_t>(workers)) {
          if (cancelRequested()) {
            errors[k] = "cancelled";
            return;
          }
          if (!decodeTile(k, firstTile_ + i / planes, band, static_cast<uint16_t>(i % planes), errors[k])) return;
        }
      } catch (const std::bad_alloc&) {
        errors[k] = notEnoughMemoryFor("a decoded tile", tileBytes_);
      } catch (const std::exception& e) {
        errors[k] = e.what();
      }
    };
    std::vector<std::thread> pool;
    for (size_t k = 1; k < workers; ++k) pool.emplace_back(work, k);
    work(0);
    for (auto& t : pool) t.join();
    for (const std::string& e : errors) {
      if (e.empty()) continue;
      why = e;
      return false;
    }
    return true;
  }

  bool decodeTile(size_t k, uint32_t column, uint32_t band, uint16_t plane, std::string& error) {
    TIFF* tif = handles_[k]->handle();
    const uint32_t x0 = column * layout_.tileWidth, y0 = band * layout_.tileHeight;
    const uint32_t index = TIFFComputeTile(tif, x0, y0, 0, plane);
    uint8_t* tile = tiles_[k].get();
    if (TIFFReadEncodedTile(tif, index, tile, static_cast<tmsize_t>(tileBytes_)) < 0) {
      error = "tile " + std::to_string(column + 1) + ", " + std::to_string(band + 1) + ": " +
              handles_[k]->failureReason();
      return false;
    }
    placeTile(tile, x0, y0, plane);
    return true;
  }

  // The part of a tile inside the image, into the band, its samples interleaved.
  void placeTile(const uint8_t* tile, uint32_t x0, uint32_t y0, uint16_t plane) {
    const uint32_t cols = std::min(layout_.tileWidth, layout_.width - x0);
    const uint32_t rows = std::min(layout_.tileHeight, layout_.height - y0);
    const size_t pixel = static_cast<size_t>(layout_.fileBytesPerPixel()), bps = layout_.bytesPerSample();
    for (uint32_t r = 0; r < rows; ++r) {
      uint8_t* dst = band_.get() + r * fileRowBytes() + x0 * pixel;
      if (!layout_.separatePlanes()) {
        std::memcpy(dst, tile + size_t(r) * layout_.tileWidth * pixel, cols * pixel);
        continue;
      }
      const uint8_t* src = tile + size_t(r) * layout_.tileWidth * bps;
      for (uint32_t c = 0; c < cols; ++c) std::memcpy(dst + c * pixel + plane * bps, src + c * bps, bps);
    }
  }

  std::vector<std::unique_ptr<TiffFile>> handles_;
  std::vector<std::unique_ptr<uint8_t[]>> tiles_;
  std::unique_ptr<uint8_t[]> band_;
  uint64_t tileBytes_ = 0;
  uint32_t loaded_ = noBand, firstTile_ = 0, lastTile_;
};

// Handles of their own on the same file, each set up as the first one.
bool openMoreHandles(const std::string& path, size_t count, std::vector<std::unique_ptr<TiffFile>>& handles,
                     std::string& why) {
  while (handles.size() < count) {
    handles.push_back(TiffFile::openRead(path, why));
    if (!handles.back()) return false;
    readTiffLayout(handles.back()->handle());
  }
  return true;
}

std::unique_ptr<ImageReader> tileReader(const ImageInfo& info, TiffLayout layout,
                                        std::vector<std::unique_ptr<TiffFile>> handles, std::string& why) {
  const uint32_t planes = layout.separatePlanes() ? layout.samples : 1;
  const size_t tilesPerBand = size_t((layout.width - 1) / layout.tileWidth + 1) * planes;
  // Every decoding thread holds a tile: together they stay within one budget.
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t affordable = std::max<uint64_t>(1, tileDecodeBudget / std::max<uint64_t>(1, layout.decodedTileBytes()));
  if (!openMoreHandles(info.path, std::min({cores, tilesPerBand, affordable}), handles, why)) return nullptr;
  auto r = std::make_unique<TiffTileReader>(info, std::move(layout), std::move(handles));
  if (!r->allocate(false) || !r->allocateBand()) {
    why = notEnoughMemoryFor("a row of tiles of " + std::to_string(info.width) + " × " +
                                 std::to_string(r->tileHeight()) + " pixels",
                             r->bandBytes());
    return nullptr;
  }
  // The library writes whole tiles into our buffers: their size must be what the layout says.
  if (r->tileBytes() != r->expectedTileBytes()) {
    why = "its tiles are not the size its tags say";
    return nullptr;
  }
  return r;
}

std::unique_ptr<ImageReader> planeReader(const ImageInfo& info, TiffLayout layout,
                                         std::vector<std::unique_ptr<TiffFile>> handles, std::string& why) {
  if (!openMoreHandles(info.path, layout.samples, handles, why)) return nullptr;
  auto r = std::make_unique<TiffPlaneReader>(info, std::move(layout), std::move(handles));
  if (!r->allocate(true) || !r->allocatePlane()) {
    why = rowMemoryText(info);
    return nullptr;
  }
  return r;
}

std::unique_ptr<ImageReader> scanlineReader(const ImageInfo& info, TiffLayout layout, std::unique_ptr<TiffFile> tiff,
                                            std::string& why) {
  // The library writes whole scanlines into our buffer: never a longer one.
  const uint64_t fileRow = uint64_t{layout.width} * static_cast<uint64_t>(layout.fileBytesPerPixel());
  if (static_cast<uint64_t>(TIFFScanlineSize64(tiff->handle())) != fileRow) {
    why = "its lines are not as long as its size says";
    return nullptr;
  }
  auto r = std::make_unique<TiffScanlineReader>(info, std::move(layout), std::move(tiff));
  if (!r->allocate(true)) {
    why = rowMemoryText(info);
    return nullptr;
  }
  return r;
}

}  // namespace

std::unique_ptr<ImageReader> openTiffReader(const ImageInfo& info, std::string& why) {
  std::unique_ptr<TiffFile> tiff = TiffFile::openRead(info.path, why);
  if (!tiff) return nullptr;
  TiffLayout layout = readTiffLayout(tiff->handle());
  if (layout.width != info.width || layout.height != info.height || layout.bits != info.bits ||
      layout.readChannels() != info.channels) {
    why = "the file has changed since it was chosen";
    return nullptr;
  }
  std::vector<uint64_t> stored = storedStripOffsets(tiff->handle(), layout);
  if (!stored.empty()) {
    auto r = std::make_unique<TiffStoredRowsReader>(info, std::move(stored), layout.rowsPerStrip);
    return r->open(why) ? std::move(r) : nullptr;
  }
  if (!layout.tiled && !layout.separatePlanes()) return scanlineReader(info, std::move(layout), std::move(tiff), why);
  std::vector<std::unique_ptr<TiffFile>> handles;
  handles.push_back(std::move(tiff));
  if (layout.tiled) return tileReader(info, std::move(layout), std::move(handles), why);
  return planeReader(info, std::move(layout), std::move(handles), why);
}

}  // namespace torvel
