// What the engine knows of an image file: its kind, its size, the layout of
// the pixel lines read from it or written to it, and what it holds beside
// the pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvel {

enum class FileKind : uint8_t { None, Kro, Raw, Tiff, Psd, Png, Jpeg };

// How the samples of a pixel line lie: interleaved R, G, B (A), pixels left
// to right. 16-bit samples are little-endian in TIFF and RAW files and
// big-endian in KRO files.
struct PixelLayout {
  int bits = 0;      // per sample: 8 or 16
  int channels = 0;  // 3 (RGB) or 4 (RGBA); an output may hold 1 (gray) or 2 (gray + alpha)
  bool littleEndian = true;
  int bytesPerPixel() const { return channels * bits / 8; }
};

// The size of a headerless RAW image when its name does not give it: what
// the user answers, handed to the probe.
struct RawGeometry {
  uint32_t width = 0, height = 0;
  int bits = 0;  // 8 or 16; 0 when not given
  bool given() const { return width != 0 || height != 0 || bits != 0; }
};

// A probed input, or an output as its creation fixed it.
struct ImageInfo {
  std::string path;
  int64_t fileSize = -1;  // as found when probed; -1 when there is no file
  FileKind kind = FileKind::None;
  uint32_t width = 0;
  uint32_t height = 0;
  int bits = 0;
  int channels = 0;
  bool littleEndian = true;
  bool accepted = false;  // the probe accepted the file
  // Why it did not, in the order the user should read them.
  std::vector<std::string> refusals;
  // A RAW whose size is neither in its name nor given: ask for it (the name's
  // size, when it has one, is the guess) and probe again with the answer.
  bool needsGeometry = false;
  RawGeometry guess;
  // What the file itself holds, when a reader expands it: its samples per
  // pixel and their meaning ("gray", "gray + alpha", "palette", "YCbCr");
  // empty for plain RGB or RGBA.
  int fileChannels = 0;
  std::string fileLayout;
  uint32_t pages = 1;  // images in the file; the first one is read
  uint32_t reducedLevels = 0;  // of those, reduced-resolution images of the first (a pyramid)
  bool gray = false;   // the pixels are gray, read as RGB(A) with equal samples

  // Beside the pixels, kept by the writers that can hold them.
  double dpiX = 0, dpiY = 0;  // pixels per inch; 0 when the file does not say
  std::string icc;            // an embedded ICC colour profile

  // How the file stores its pixels, as `info` tells it.
  std::string format;         // "TIFF", "BigTIFF", "PNG", "JPEG", "PSD", "PSB"; empty for RAW and KRO
  std::string codec;          // "LZW", "Deflate with horizontal predictor", "RLE"...
  std::string storage;        // "strips of 16 rows", "tiles of 256 × 256", "progressive", "interlaced"
  std::string mode;           // a Photoshop file's colour mode
  bool composite = true;      // a Photoshop file holds a real composite image
  int orientation = 0;        // the EXIF orientation (1 to 8); 0 when none
  // What the probe found worth saying that does not refuse the file.
  std::vector<std::string> notes;

  PixelLayout layout() const { return {bits, channels, littleEndian}; }
  int bytesPerPixel() const { return channels * bits / 8; }
  uint64_t lineBytes() const { return uint64_t{width} * static_cast<uint64_t>(bytesPerPixel()); }
};

// The channel count as shown: the file's, and what it is read as when that
// differs ("1 gray, read as 3").
std::string channelsText(const ImageInfo& info);

// Which kind a name's extension selects (any letter case), None for anything
// else; the extensions are those of the format table (formats.h).
FileKind kindOfPath(const std::string& path);
// "TIF", "RAW", "KRO", "PSD", "PNG" or "JPG".
const char* kindText(FileKind kind);
// The input extensions of one kind, lower case, as "*.tif *.tiff"; all of
// them for None.
std::string extensionPatterns(FileKind kind);

}  // namespace torvel
