// The KRO header: "KRO", version 1, then width, height, bits and channels as
// big-endian 32-bit values; pixel lines of four big-endian channels follow
// from byte 20.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvel {

inline constexpr size_t kroHeaderSize = 20;

struct KroHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bits = 0;
  uint32_t channels = 0;
};

void encodeKroHeader(const KroHeader& header, uint8_t out[kroHeaderSize]);
// False when the magic or the version is wrong.
bool decodeKroHeader(const uint8_t in[kroHeaderSize], KroHeader& header);

}  // namespace torvel
