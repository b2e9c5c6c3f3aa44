// What the Photoshop reader and writer share: the file header (PSD is
// version 1, PSB, the large-document format, version 2), the colour modes,
// and PackBits, the run-length coding of its RLE image data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace torvel {

inline constexpr size_t psdHeaderSize = 26;

struct PsdHeader {
  uint16_t version = 1;  // 1: PSD, 2: PSB
  uint16_t channels = 0;
  uint32_t height = 0, width = 0;
  uint16_t depth = 0;    // bits per channel
  uint16_t mode = 0;     // 1 grayscale, 2 indexed, 3 RGB...
  bool large() const { return version == 2; }
};

namespace psdmode {
inline constexpr uint16_t bitmap = 0, grayscale = 1, indexed = 2, rgb = 3, cmyk = 4, multichannel = 7, duotone = 8,
                          lab = 9;
}

void encodePsdHeader(const PsdHeader& header, uint8_t out[psdHeaderSize]);
// False when the signature or the version is not Photoshop's.
bool decodePsdHeader(const uint8_t in[psdHeaderSize], PsdHeader& header);
// "RGB", "Grayscale", "CMYK"...
std::string psdModeText(uint16_t mode);

// Appends the PackBits coding of `n` bytes to `out`.
void packBits(const uint8_t* in, size_t n, std::vector<uint8_t>& out);
// Decodes PackBits into exactly `n` bytes; false when the data runs short or over.
bool unpackBits(const uint8_t* in, size_t size, uint8_t* out, size_t n);

uint32_t bigEndian32(const uint8_t* p);
uint16_t bigEndian16(const uint8_t* p);
void putBigEndian32(uint8_t* p, uint32_t v);
void putBigEndian16(uint8_t* p, uint16_t v);

}  // namespace torvel
