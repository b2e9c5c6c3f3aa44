// The KRO header: "KRO", version 1, then width, height, bits and channels as
// big-endian 32-bit values; pixel lines follow from byte 20.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t KroHeaderSize = 20;

struct TKroHeader {
  uint32_t Width = 0;
  uint32_t Height = 0;
  uint32_t Bits = 0;
  uint32_t Channels = 0;
};

void EncodeKroHeader(const TKroHeader& hdr, uint8_t out[KroHeaderSize]);
// False when the magic or the version is wrong.
bool DecodeKroHeader(const uint8_t in[KroHeaderSize], TKroHeader& hdr);
