// Image readers: one object per open input, chosen once by its file kind.
// A reader owns its line buffer and hands out one row at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>

#include "engine/image.h"
#include "engine/run.h"

namespace torvel {

// Runs of rows read ahead for an output that takes them as they are: each
// tile of a split gets its share of a run with one write, so the run sets the
// size of those writes (a MB made 30 kB writes at 40000 pixels wide, and the
// system calls cost more than the copy).
inline constexpr uint64_t directRunBytes = uint64_t{4} << 20;

class ImageReader {
 public:
  explicit ImageReader(ImageInfo info) : info_(std::move(info)) {}
  virtual ~ImageReader() = default;
  ImageReader(const ImageReader&) = delete;
  ImageReader& operator=(const ImageReader&) = delete;

  const ImageInfo& info() const { return info_; }
  // True when rows come only in file order: reading a row far down decodes
  // every row above it.
  virtual bool sequential() const { return false; }
  // Later reads need deliver only these columns (a crop); others may hold anything.
  virtual void useColumns(uint32_t /*first*/, uint32_t /*count*/) {}
  // Later reads ask for rows far apart: each is read alone, not with its neighbours.
  virtual void readSparsely() {}
  // The only input of a run, read row after row: the rows after the ones
  // asked for may be read on a helper thread meanwhile, in runs of about
  // `runBytes` when that is more than a reader reads at a time. (Not for the
  // dozens of inputs a merge keeps open: a thread and a buffer each would
  // not pay.)
  virtual void readAhead(uint64_t /*runBytes*/ = 0) {}
  // Row `row` as info().lineBytes() bytes of interleaved samples, valid until
  // the next call; null when it cannot be read, and error() says why.
  virtual const uint8_t* readRow(uint32_t row) = 0;
  // Rows from `first` on as one block: row i at rows + i * info().lineBytes(),
  // as many as the reader holds together (at least one, at most `most`),
  // valid until the next call; rows is null when they cannot be read.
  struct RowRun {
    const uint8_t* rows = nullptr;
    uint32_t count = 0;
  };
  virtual RowRun readRows(uint32_t first, uint32_t /*most*/) { return {readRow(first), 1}; }
  // True when a region is read straight from the file, one positioned read
  // per row, so reading one costs no more than its own bytes.
  virtual bool readsRegionsDirectly() const { return false; }
  // Rows y .. y + height - 1, columns x .. x + width - 1, into `out` with
  // `stride` bytes from row to row; false when it cannot be read, and
  // error() says why.
  virtual bool readRegion(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint8_t* out, size_t stride);
  // Long reads (a band of tiles) end early, failing, once this is requested.
  void setCancel(std::stop_token cancel) { cancel_ = std::move(cancel); }
  const std::string& error() const { return error_; }

 protected:
  const uint8_t* fail(std::string why) {
    error_ = std::move(why);
    return nullptr;
  }
  bool cancelRequested() const { return cancel_.stop_requested(); }
  ImageInfo info_;
  std::string error_;
  std::stop_token cancel_;
};

// A line buffer owned by a reader or a writer; null when it cannot be had.
std::unique_ptr<uint8_t[]> allocateLine(uint64_t bytes);
// Why the lines of `info` could not be had: "Not enough memory to hold a
// row of 40000 pixels (117 kB)".
std::string rowMemoryText(const ImageInfo& info);

// Probes `path` as its extension selects: the TIFF tags, the KRO header, or
// the RAW name and size, with `raw` as the size of a RAW whose name does not
// give it. The result says what was found, or why it was refused, or that
// it needs a geometry.
ImageInfo probeImage(const std::string& path, const RawGeometry& raw = {});

// Why a probe did not accept an image, in one line: its refusals, or that
// it needs a geometry.
std::string refusalText(const ImageInfo& info);

// Opens a probed input for reading rows; null when it cannot be opened, and
// `why` says so ("Not enough memory" when its line buffer cannot be had).
std::unique_ptr<ImageReader> openReader(const ImageInfo& info, std::string& why);

}  // namespace torvel
