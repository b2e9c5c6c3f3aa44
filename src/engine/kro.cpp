#include "engine/kro.h"

#include <cstring>

#include "engine/utils.h"

namespace {

// The header fields are big-endian; we run on little-endian processors only.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "KRO header code assumes a little-endian host");

void Put(uint8_t* at, uint32_t v) {
  v = SwapBytes32(v);
  std::memcpy(at, &v, 4);
}

uint32_t Get(const uint8_t* at) {
  uint32_t v;
  std::memcpy(&v, at, 4);
  return SwapBytes32(v);
}

}  // namespace

void EncodeKroHeader(const TKroHeader& hdr, uint8_t out[KroHeaderSize]) {
  out[0] = 'K';
  out[1] = 'R';
  out[2] = 'O';
  out[3] = 1;
  Put(out + 4, hdr.Width);
  Put(out + 8, hdr.Height);
  Put(out + 12, hdr.Bits);
  Put(out + 16, hdr.Channels);
}

bool DecodeKroHeader(const uint8_t in[KroHeaderSize], TKroHeader& hdr) {
  if (in[0] != 'K' || in[1] != 'R' || in[2] != 'O' || in[3] != 1) return false;
  hdr.Width = Get(in + 4);
  hdr.Height = Get(in + 8);
  hdr.Bits = Get(in + 12);
  hdr.Channels = Get(in + 16);
  return true;
}
