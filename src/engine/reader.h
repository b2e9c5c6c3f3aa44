// Image readers: one object per open input, chosen once by its file kind.
// A reader owns its line buffer and hands out one row at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/image.h"
#include "engine/run.h"

namespace torvel {

class ImageReader {
 public:
  explicit ImageReader(ImageInfo info) : info_(std::move(info)) {}
  virtual ~ImageReader() = default;
  ImageReader(const ImageReader&) = delete;
  ImageReader& operator=(const ImageReader&) = delete;

  const ImageInfo& info() const { return info_; }
  // True when rows come only in file order, whatever row is asked for: the
  // lines of headerless files are read one after the other, not sought.
  virtual bool sequential() const { return false; }
  // Later reads need deliver only these columns (a crop); others may hold anything.
  virtual void useColumns(uint32_t /*first*/, uint32_t /*count*/) {}
  // Later reads ask for rows far apart: each is read alone, not with its neighbours.
  virtual void readSparsely() {}
  // Where row `row` is stored in the file exactly as readRow() hands it out
  // (uncompressed, nothing to convert), so a region can be read straight
  // from the file; -1 when it is not stored so.
  virtual int64_t storedRowOffset(uint32_t /*row*/) const { return -1; }
  // Row `row` as info().lineBytes() bytes of interleaved samples, valid until
  // the next call; null when it cannot be read, and error() says why.
  virtual const uint8_t* readRow(uint32_t row) = 0;
  const std::string& error() const { return error_; }

 protected:
  const uint8_t* fail(std::string why) {
    error_ = std::move(why);
    return nullptr;
  }
  ImageInfo info_;
  std::string error_;
};

// A line buffer owned by a reader or a writer; null when it cannot be had.
std::unique_ptr<uint8_t[]> allocateLine(uint64_t bytes);

// Probes `path` as its extension selects: the TIFF tags, the KRO header, or
// the RAW name and size (asking for the geometry when `askUser` and the
// prompt allow). The probes show their refusals through the prompt.
ImageInfo probeImage(const std::string& path, Prompt* prompt, bool askUser);

// Opens a probed input for reading rows; null when it cannot be opened, and
// `why` says so ("Not enough memory" when its line buffer cannot be had).
std::unique_ptr<ImageReader> openReader(const ImageInfo& info, std::string& why);

inline constexpr const char* notEnoughMemory = "Not enough memory";

}  // namespace torvel
