// The encodings of a pyramid's tiles: JPEG, PNG or WebP, each tile coded
// whole in memory from 8-bit RGB or RGBA pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvel {

enum class TileFormat { Jpeg, Png, WebP };

struct TileEncoding {
  TileFormat format = TileFormat::Jpeg;
  int quality = 85;       // JPEG and lossy WebP, 1-100
  bool lossless = false;  // WebP
};

const char* tileExtension(TileFormat format);  // "jpg", "png", "webp"
// Whether tiles of `format` keep an alpha channel.
inline bool tileAlpha(TileFormat format) { return format != TileFormat::Jpeg; }

// Codes `width` × `height` pixels of `channels` (3 or 4) samples into `out`;
// false with `why`.
bool encodeTile(const TileEncoding& encoding, const uint8_t* pixels, uint32_t width, uint32_t height, int channels,
                std::vector<uint8_t>& out, std::string& why);

}  // namespace torvel
