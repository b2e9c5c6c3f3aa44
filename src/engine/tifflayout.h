// How a TIFF stores its pixels (strips or tiles, planes, sample meaning,
// compression) and how its lines become ours: RGB or RGBA, 8 or 16 bits.
// Shared by the TIFF probe and the TIFF readers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct tiff;
typedef struct tiff TIFF;

namespace torvel {

// Memory bounds of reading a TIFF, checked at the probe against what its
// tags declare: one decoded tile or row, one row of tiles, and the tile
// buffers of all decoding threads together.
inline constexpr uint64_t maxDecodedTileBytes = uint64_t{256} << 20;
inline constexpr uint64_t maxTileBandBytes = uint64_t{1} << 30;
inline constexpr uint64_t tileDecodeBudget = uint64_t{512} << 20;

struct TiffLayout {
  enum class Meaning { Rgb, Gray, GrayAlpha, Palette, JpegYCbCr };

  uint32_t width = 0, height = 0;
  uint16_t bits = 0, samples = 0, photometric = 0, planar = 1, compression = 1, sampleFormat = 1;
  bool tiled = false;
  uint32_t tileWidth = 0, tileHeight = 0, rowsPerStrip = 0;
  Meaning meaning = Meaning::Rgb;
  bool minIsWhite = false;
  std::vector<uint16_t> palette;  // red, green, blue: 256 entries each

  bool separatePlanes() const { return planar == 2; }
  int bytesPerSample() const { return bits / 8; }
  // Samples per pixel of the decoded data: JPEG YCbCr decodes to RGB.
  int fileBytesPerPixel() const { return samples * bytesPerSample(); }
  // What our lines hold: 3 or 4 channels.
  int readChannels() const;
  // Bytes of one decoded tile (of one plane when planes are separate).
  uint64_t decodedTileBytes() const;
  // "gray", "gray + alpha", "palette", "YCbCr"; empty for plain RGB(A).
  const char* meaningText() const;
};

// The layout of the current directory; the JPEG colour conversion is asked
// for on a JPEG YCbCr image.
TiffLayout readTiffLayout(TIFF* tif);

// The probe's checks of a layout whose size, bits and channels passed: the
// reason it cannot be read, empty when it can.
std::string tiffLayoutRefusal(TIFF* tif, const TiffLayout& layout, int64_t fileSize);

// Turns `count` pixels of the file's interleaved samples into our line.
class SampleExpander {
 public:
  explicit SampleExpander(const TiffLayout& layout);
  // True when the file's samples are our line already.
  bool identity() const { return expand_ == nullptr; }
  void operator()(const uint8_t* file, uint8_t* line, size_t count) const { expand_(file, line, count, *this); }

  using Function = void (*)(const uint8_t* file, uint8_t* line, size_t count, const SampleExpander& e);
  uint16_t max = 255;           // the full value of a sample
  bool invert = false;          // min-is-white gray
  const uint16_t* palette = nullptr;
  int paletteShift = 0;         // 8: a 16-bit colour map for an 8-bit line

 private:
  Function expand_ = nullptr;
};

}  // namespace torvel
