// Pixel span conversion: the innermost loop of every operation. The converter
// is chosen once per span; each one is a plain loop the compiler can vectorise.
#include <cstring>

#include "engine/torvel.h"

namespace {

inline uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

using Converter = void (*)(TTorvel& S, size_t in, size_t out, size_t n);

void CopyRgb8(TTorvel& S, size_t in, size_t out, size_t n) {
  std::memmove(S.OutRgb8 + out, S.InRgb8 + in, n * sizeof(TRgb8));
}

void Rgb8ToRgba8(TTorvel& S, size_t in, size_t out, size_t n) {
  const uint8_t* __restrict src = &S.InRgb8[in].R;
  uint8_t* __restrict dst = &S.OutRgba8[out].R;
  for (size_t i = 0; i < n; ++i) {
    dst[4 * i] = src[3 * i];
    dst[4 * i + 1] = src[3 * i + 1];
    dst[4 * i + 2] = src[3 * i + 2];
    dst[4 * i + 3] = 255;
  }
}

void Rgba8ToRgb8(TTorvel& S, size_t in, size_t out, size_t n) {
  const uint8_t* __restrict src = &S.InRgba8[in].R;
  uint8_t* __restrict dst = &S.OutRgb8[out].R;
  for (size_t i = 0; i < n; ++i) {
    dst[3 * i] = src[4 * i];
    dst[3 * i + 1] = src[4 * i + 1];
    dst[3 * i + 2] = src[4 * i + 2];
  }
}

void CopyRgba8(TTorvel& S, size_t in, size_t out, size_t n) {
  std::memmove(S.OutRgba8 + out, S.InRgba8 + in, n * sizeof(TRgba8));
}

void CopyRgb16(TTorvel& S, size_t in, size_t out, size_t n) {
  std::memmove(S.OutRgb16 + out, S.InRgb16 + in, n * sizeof(TRgb16));
}

void Rgb16ToRgba16(TTorvel& S, size_t in, size_t out, size_t n) {
  const uint16_t* __restrict src = &S.InRgb16[in].R;
  uint16_t* __restrict dst = &S.OutRgba16[out].R;
  for (size_t i = 0; i < n; ++i) {
    dst[4 * i] = src[3 * i];
    dst[4 * i + 1] = src[3 * i + 1];
    dst[4 * i + 2] = src[3 * i + 2];
    dst[4 * i + 3] = 65535;
  }
}

void Rgba16ToRgb16(TTorvel& S, size_t in, size_t out, size_t n) {
  const uint16_t* __restrict src = &S.InRgba16[in].R;
  uint16_t* __restrict dst = &S.OutRgb16[out].R;
  for (size_t i = 0; i < n; ++i) {
    dst[3 * i] = src[4 * i];
    dst[3 * i + 1] = src[4 * i + 1];
    dst[3 * i + 2] = src[4 * i + 2];
  }
}

void CopyRgba16(TTorvel& S, size_t in, size_t out, size_t n) {
  std::memmove(S.OutRgba16 + out, S.InRgba16 + in, n * sizeof(TRgba16));
}

void SwapRgb16(TTorvel& S, size_t in, size_t out, size_t n) {
  const uint16_t* __restrict src = &S.InRgb16[in].R;
  uint16_t* __restrict dst = &S.OutRgb16[out].R;
  for (size_t i = 0; i < 3 * n; ++i) dst[i] = Swap16(src[i]);
}

void SwapRgb16ToRgba16(TTorvel& S, size_t in, size_t out, size_t n) {
  const uint16_t* __restrict src = &S.InRgb16[in].R;
  uint16_t* __restrict dst = &S.OutRgba16[out].R;
  for (size_t i = 0; i < n; ++i) {
    dst[4 * i] = Swap16(src[3 * i]);
    dst[4 * i + 1] = Swap16(src[3 * i + 1]);
    dst[4 * i + 2] = Swap16(src[3 * i + 2]);
    dst[4 * i + 3] = 65535;
  }
}

void SwapRgba16ToRgb16(TTorvel& S, size_t in, size_t out, size_t n) {
  const uint16_t* __restrict src = &S.InRgba16[in].R;
  uint16_t* __restrict dst = &S.OutRgb16[out].R;
  for (size_t i = 0; i < n; ++i) {
    dst[3 * i] = Swap16(src[4 * i]);
    dst[3 * i + 1] = Swap16(src[4 * i + 1]);
    dst[3 * i + 2] = Swap16(src[4 * i + 2]);
  }
}

void SwapRgba16(TTorvel& S, size_t in, size_t out, size_t n) {
  const uint16_t* __restrict src = &S.InRgba16[in].R;
  uint16_t* __restrict dst = &S.OutRgba16[out].R;
  for (size_t i = 0; i < 4 * n; ++i) dst[i] = Swap16(src[i]);
}

// [16-bit orders differ][in channels is 4][out channels is 4]
constexpr Converter Converters8[2][2] = {{CopyRgb8, Rgb8ToRgba8}, {Rgba8ToRgb8, CopyRgba8}};
constexpr Converter Converters16[2][2][2] = {
    {{CopyRgb16, Rgb16ToRgba16}, {Rgba16ToRgb16, CopyRgba16}},
    {{SwapRgb16, SwapRgb16ToRgba16}, {SwapRgba16ToRgb16, SwapRgba16}}};

bool ValidChannels(uint8_t c) { return c == 3 || c == 4; }

}  // namespace

void ConvertSpan(TTorvel& S, const TFileInfo& InInfo, int32_t InStart, const TFileInfo& OutInfo,
                 int32_t OutStart, uint32_t Count) {
  S.InRgb8 = reinterpret_cast<TRgb8*>(InInfo.ScanLine);
  S.InRgba8 = reinterpret_cast<TRgba8*>(InInfo.ScanLine);
  S.InRgb16 = reinterpret_cast<TRgb16*>(InInfo.ScanLine);
  S.InRgba16 = reinterpret_cast<TRgba16*>(InInfo.ScanLine);
  S.OutRgb8 = reinterpret_cast<TRgb8*>(OutInfo.ScanLine);
  S.OutRgba8 = reinterpret_cast<TRgba8*>(OutInfo.ScanLine);
  S.OutRgb16 = reinterpret_cast<TRgb16*>(OutInfo.ScanLine);
  S.OutRgba16 = reinterpret_cast<TRgba16*>(OutInfo.ScanLine);
  if (!ValidChannels(InInfo.Channels) || !ValidChannels(OutInfo.Channels)) return;
  const int in4 = InInfo.Channels == 4, out4 = OutInfo.Channels == 4;
  Converter conv = nullptr;
  if (InInfo.Bits == 8)
    conv = Converters8[in4][out4];
  else if (InInfo.Bits == 16)
    conv = Converters16[InInfo.IsLsb != OutInfo.IsLsb][in4][out4];
  if (conv && Count > 0) conv(S, static_cast<size_t>(InStart), static_cast<size_t>(OutStart), Count);
}
