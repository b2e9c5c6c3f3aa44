// Regions of an image read straight into pixel blocks, and pixel blocks
// written straight into place in a RAW image, when the rows are stored as
// the resize holds them: three samples per pixel, host byte order, no
// compression (RAW files, uncompressed RGB TIFF strips).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/bytefile.h"
#include "engine/image.h"
#include "engine/reader.h"
#include "resize/pixelblock.h"

namespace torvel {

class RegionReader {
 public:
  // Null when the image is not stored so (or cannot be opened); `why` says which.
  static std::unique_ptr<RegionReader> open(const ImageInfo& image, std::string& why);
  // Fills `block` (already of the region's size) from column x, row y.
  // Throws ImagingError when the file cannot be read.
  void read(uint32_t x, uint32_t y, PixelBlock& block);

 private:
  RegionReader() = default;
  ImageInfo image_;
  std::unique_ptr<ImageReader> rows_;  // reads its regions straight from the file
};

// A headerless RAW image made of blocks written into their places.
class RegionWriter {
 public:
  // Creates `path` for an image `width` pixels wide; throws ImagingError.
  RegionWriter(const std::string& path, uint32_t width, int bytesPerPixel);
  // Puts `block` with its top-left pixel at column x, row y; throws ImagingError.
  void write(uint32_t x, uint32_t y, const PixelBlock& block);
  // Closes the file; throws ImagingError when its last bytes did not reach it.
  void close();

 private:
  std::string path_;
  uint64_t lineBytes_;
  int bytesPerPixel_;
  ByteFile file_;
};

}  // namespace torvel
