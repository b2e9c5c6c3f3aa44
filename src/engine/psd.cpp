#include "engine/psd.h"

#include <cstring>

namespace torvel {

uint32_t bigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
uint16_t bigEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

void putBigEndian32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void putBigEndian16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

void encodePsdHeader(const PsdHeader& h, uint8_t out[psdHeaderSize]) {
  std::memset(out, 0, psdHeaderSize);
  std::memcpy(out, "8BPS", 4);
  putBigEndian16(out + 4, h.version);
  putBigEndian16(out + 12, h.channels);
  putBigEndian32(out + 14, h.height);
  putBigEndian32(out + 18, h.width);
  putBigEndian16(out + 22, h.depth);
  putBigEndian16(out + 24, h.mode);
}

bool decodePsdHeader(const uint8_t in[psdHeaderSize], PsdHeader& h) {
  if (std::memcmp(in, "8BPS", 4) != 0) return false;
  h.version = bigEndian16(in + 4);
  h.channels = bigEndian16(in + 12);
  h.height = bigEndian32(in + 14);
  h.width = bigEndian32(in + 18);
  h.depth = bigEndian16(in + 22);
  h.mode = bigEndian16(in + 24);
  return h.version == 1 || h.version == 2;
}

std::string psdModeText(uint16_t mode) {
  switch (mode) {
    case psdmode::bitmap:
      return "Bitmap";
    case psdmode::grayscale:
      return "Grayscale";
    case psdmode::indexed:
      return "Indexed";
    case psdmode::rgb:
      return "RGB";
    case psdmode::cmyk:
      return "CMYK";
    case psdmode::multichannel:
      return "Multichannel";
    case psdmode::duotone:
      return "Duotone";
    case psdmode::lab:
      return "Lab";
  }
  return "mode " + std::to_string(mode);
}

// Runs of three or more equal bytes become a repeat; the rest literal
// stretches of at most 128 bytes.
void packBits(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && in[i + run] == in[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(in[i]);
      i += run;
      continue;
    }
    size_t literal = 0;
    while (i + literal < n && literal < 128 &&
           !(i + literal + 2 < n && in[i + literal] == in[i + literal + 1] && in[i + literal] == in[i + literal + 2]))
      ++literal;
    out.push_back(static_cast<uint8_t>(literal - 1));
    out.insert(out.end(), in + i, in + i + literal);
    i += literal;
  }
}

bool unpackBits(const uint8_t* in, size_t size, uint8_t* out, size_t n) {
  size_t i = 0, o = 0;
  while (o < n) {
    if (i >= size) return false;
    const int8_t header = static_cast<int8_t>(in[i++]);
    if (header >= 0) {
      const size_t count = static_cast<size_t>(header) + 1;
      if (i + count > size || o + count > n) return false;
      std::memcpy(out + o, in + i, count);
      i += count;
      o += count;
    } else if (header != -128) {
      const size_t count = static_cast<size_t>(1 - header);
      if (i >= size || o + count > n) return false;
      std::memset(out + o, in[i++], count);
      o += count;
    }
  }
  return true;
}

}  // namespace torvel
