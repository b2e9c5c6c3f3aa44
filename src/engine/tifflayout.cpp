#include "engine/tifflayout.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace torvel {

namespace {

uint16_t defaulted16(TIFF* tif, ttag_t tag) {
  uint16_t v = 0;
  TIFFGetFieldDefaulted(tif, tag, &v);
  return v;
}

uint32_t field32(TIFF* tif, ttag_t tag) {
  uint32_t v = 0;
  return TIFFGetField(tif, tag, &v) == 1 ? v : 0;
}

void readPalette(TIFF* tif, TiffLayout& l) {
  uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
  if (l.bits != 8 || TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) != 1) return;
  l.palette.assign(r, r + 256);
  l.palette.insert(l.palette.end(), g, g + 256);
  l.palette.insert(l.palette.end(), b, b + 256);
}

TiffLayout::Meaning meaningOf(const TiffLayout& l) {
  switch (l.photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
      return l.samples == 2 ? TiffLayout::Meaning::GrayAlpha : TiffLayout::Meaning::Gray;
    case PHOTOMETRIC_PALETTE:
      return TiffLayout::Meaning::Palette;
    case PHOTOMETRIC_YCBCR:
      return l.compression == COMPRESSION_JPEG ? TiffLayout::Meaning::JpegYCbCr : TiffLayout::Meaning::Rgb;
    default:
      return TiffLayout::Meaning::Rgb;
  }
}

std::string photometricRefusal(const TiffLayout& l) {
  switch (l.photometric) {
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
      return {};
    case PHOTOMETRIC_PALETTE:
      if (l.bits != 8) return "palette images must have 8-bit indexes";
      return l.palette.empty() ? "the palette image has no colour map" : "";
    case PHOTOMETRIC_YCBCR:
      if (l.compression != COMPRESSION_JPEG) return "YCbCr images are read only when JPEG-compressed";
      return l.separatePlanes() ? "a JPEG YCbCr image must keep its samples together" : "";
    case PHOTOMETRIC_SEPARATED:
      return "CMYK images are not read";
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
      return "Lab images are not read";
    default:
      return "photometric interpretation " + std::to_string(l.photometric) + " is not read";
  }
}

std::string storageRefusal(TIFF* tif, const TiffLayout& l, int64_t fileSize) {
  if (!TIFFIsCODECConfigured(l.compression)) {
    const TIFFCodec* codec = TIFFFindCODEC(l.compression);
    return "The compression of this TIFF cannot be decoded here: " +
           (codec ? std::string(codec->name) : "scheme " + std::to_string(l.compression));
  }
  if (l.tiled && (l.tileWidth == 0 || l.tileHeight == 0)) return "The tiles of this TIFF have no size";
  const uint64_t pixel = static_cast<uint64_t>(l.fileBytesPerPixel()), mb = uint64_t{1} << 20;
  if (uint64_t{l.width} * pixel > maxDecodedTileBytes)
    return "The lines of this TIFF are too long: one takes " + std::to_string(uint64_t{l.width} * pixel / mb) +
           " MB, more than the " + std::to_string(maxDecodedTileBytes / mb) + " MB a line may take";
  if (l.tiled && l.decodedTileBytes() > maxDecodedTileBytes)
    return "The tiles of this TIFF are too large: one takes " + std::to_string(l.decodedTileBytes() / mb) +
           " MB once decoded, more than the " + std::to_string(maxDecodedTileBytes / mb) + " MB a tile may take";
  if (l.tiled && uint64_t{l.width} * l.tileHeight * pixel > maxTileBandBytes)
    return "The tiles of this TIFF are too tall: a row of them would not fit in memory";
  const uint32_t count = l.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t offset = TIFFGetStrileOffset(tif, i), bytes = TIFFGetStrileByteCount(tif, i);
    if (bytes == 0) return "The TIFF file is incomplete: part of its image data is missing";
    if (offset > static_cast<uint64_t>(fileSize) || bytes > static_cast<uint64_t>(fileSize) - offset)
      return "The TIFF file is truncated: its image data runs past the end of the file";
  }
  return {};
}

}  // namespace

int TiffLayout::readChannels() const {
  switch (meaning) {
    case Meaning::Gray:
    case Meaning::Palette:
      return 3;
    case Meaning::GrayAlpha:
      return 4;
    case Meaning::Rgb:
    case Meaning::JpegYCbCr:
      break;
  }
  return samples;
}

uint64_t TiffLayout::decodedTileBytes() const {
  const int perPixel = separatePlanes() ? bytesPerSample() : fileBytesPerPixel();
  return uint64_t{tileWidth} * tileHeight * static_cast<uint64_t>(perPixel);
}

const char* TiffLayout::meaningText() const {
  switch (meaning) {
    case Meaning::Gray:
      return "gray";
    case Meaning::GrayAlpha:
      return "gray + alpha";
    case Meaning::Palette:
      return "palette";
    case Meaning::JpegYCbCr:
      return "YCbCr";
    case Meaning::Rgb:
      break;
  }
  return "";
}

TiffLayout readTiffLayout(TIFF* tif) {
  TiffLayout l;
  l.width = field32(tif, TIFFTAG_IMAGEWIDTH);
  l.height = field32(tif, TIFFTAG_IMAGELENGTH);
  l.bits = defaulted16(tif, TIFFTAG_BITSPERSAMPLE);
  l.samples = defaulted16(tif, TIFFTAG_SAMPLESPERPIXEL);
  l.planar = defaulted16(tif, TIFFTAG_PLANARCONFIG);
  l.compression = defaulted16(tif, TIFFTAG_COMPRESSION);
  l.sampleFormat = defaulted16(tif, TIFFTAG_SAMPLEFORMAT);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric);
  l.tiled = TIFFIsTiled(tif);
  if (l.tiled) {
    l.tileWidth = field32(tif, TIFFTAG_TILEWIDTH);
    l.tileHeight = field32(tif, TIFFTAG_TILELENGTH);
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &l.rowsPerStrip);
  l.meaning = meaningOf(l);
  l.minIsWhite = l.photometric == PHOTOMETRIC_MINISWHITE;
  if (l.meaning == TiffLayout::Meaning::Palette) readPalette(tif, l);
  // The library's JPEG decoder turns YCbCr into RGB; sizes then count RGB samples.
  if (l.meaning == TiffLayout::Meaning::JpegYCbCr) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  return l;
}

std::string tiffLayoutRefusal(TIFF* tif, const TiffLayout& layout, int64_t fileSize) {
  if (layout.sampleFormat != SAMPLEFORMAT_UINT) return "The samples must be unsigned integers";
  const std::string photometric = photometricRefusal(layout);
  if (!photometric.empty()) return "The image must be RGB or RGBA: " + photometric;
  return storageRefusal(tif, layout, fileSize);
}

namespace {

template <typename T>
T sample(const uint8_t* p, size_t i) {
  T v;
  std::memcpy(&v, p + i * sizeof(T), sizeof(T));
  return v;
}

template <typename T>
void put(uint8_t* p, size_t i, T v) {
  std::memcpy(p + i * sizeof(T), &v, sizeof(T));
}

template <typename T>
void expandGray(const uint8_t* file, uint8_t* line, size_t n, const SampleExpander& e) {
  for (size_t i = 0; i < n; ++i) {
    T v = sample<T>(file, i);
    if (e.invert) v = static_cast<T>(e.max - v);
    put<T>(line, 3 * i, v);
    put<T>(line, 3 * i + 1, v);
    put<T>(line, 3 * i + 2, v);
  }
}

template <typename T>
void expandGrayAlpha(const uint8_t* file, uint8_t* line, size_t n, const SampleExpander& e) {
  for (size_t i = 0; i < n; ++i) {
    T v = sample<T>(file, 2 * i);
    if (e.invert) v = static_cast<T>(e.max - v);
    put<T>(line, 4 * i, v);
    put<T>(line, 4 * i + 1, v);
    put<T>(line, 4 * i + 2, v);
    put<T>(line, 4 * i + 3, sample<T>(file, 2 * i + 1));
  }
}

void expandPalette(const uint8_t* file, uint8_t* line, size_t n, const SampleExpander& e) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t index = file[i];
    for (int c = 0; c < 3; ++c) line[3 * i + c] = static_cast<uint8_t>(e.palette[c * 256 + index] >> e.paletteShift);
  }
}

}  // namespace

SampleExpander::SampleExpander(const TiffLayout& layout) {
  const bool wide = layout.bits == 16;
  max = wide ? 65535 : 255;
  invert = layout.minIsWhite;
  switch (layout.meaning) {
    case TiffLayout::Meaning::Gray:
      expand_ = wide ? expandGray<uint16_t> : expandGray<uint8_t>;
      break;
    case TiffLayout::Meaning::GrayAlpha:
      expand_ = wide ? expandGrayAlpha<uint16_t> : expandGrayAlpha<uint8_t>;
      break;
    case TiffLayout::Meaning::Palette:
      expand_ = expandPalette;
      palette = layout.palette.data();
      // Colour maps hold 16-bit values; some writers put 8-bit ones in them.
      paletteShift = std::any_of(layout.palette.begin(), layout.palette.end(), [](uint16_t v) { return v > 255; }) ? 8 : 0;
      break;
    case TiffLayout::Meaning::Rgb:
    case TiffLayout::Meaning::JpegYCbCr:
      break;
  }
}

}  // namespace torvel
