// Pixel span conversion: the innermost loop of every operation. The converter
// is chosen once per span; each one is a plain loop the compiler can vectorise.
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "engine/torvel.h"

namespace {

inline uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

using Converter = void (*)(TTorvel& S, size_t in, size_t out, size_t n);

void CopyRgb8(TTorvel& S, size_t in, size_t out, size_t n) {
  std::memmove(S.OutRgb8 + out, S.InRgb8 + in, n * sizeof(TRgb8));
}

// The converters that change the pixel size move a whole pixel with one load
// and one store of a machine word, which overlaps the next pixel; the last
// pixel of a span is moved sample by sample so nothing beyond it is touched.

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
// Exchanges the bytes of each 16-bit sample of a word.
inline uint64_t Swap16x4(uint64_t v) { return ((v >> 8) & 0x00FF00FF00FF00FFull) | ((v << 8) & 0xFF00FF00FF00FF00ull); }

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the word-wide converters assume a little-endian host");

#if defined(__x86_64__)
// Four pixels per shuffle; the 16-byte load reads 4 bytes past them, so the
// loop stops while at least two pixels remain.
__attribute__((target("ssse3"))) size_t Rgb8ToRgba8Ssse3(const uint8_t* src, uint8_t* dst, size_t n) {
  const __m128i shuffle = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  size_t i = 0;
  for (; i + 6 <= n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i), _mm_or_si128(_mm_shuffle_epi8(v, shuffle), alpha));
  }
  return i;
}

// Four pixels per shuffle; the 16-byte store writes 4 bytes past them, which
// the next round overwrites, so the loop stops while two pixels remain.
__attribute__((target("ssse3"))) size_t Rgba8ToRgb8Ssse3(const uint8_t* src, uint8_t* dst, size_t n) {
  const __m128i shuffle = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  size_t i = 0;
  for (; i + 6 <= n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * i), _mm_shuffle_epi8(v, shuffle));
  }
  return i;
}

bool HaveSsse3() {
  static const bool have = __builtin_cpu_supports("ssse3");
  return have;
}
#else
size_t Rgb8ToRgba8Ssse3(const uint8_t*, uint8_t*, size_t) { return 0; }
size_t Rgba8ToRgb8Ssse3(const uint8_t*, uint8_t*, size_t) { return 0; }
bool HaveSsse3() { return false; }
#endif

void Rgb8ToRgba8(TTorvel& S, size_t in, size_t out, size_t n) {
  if (n == 0) return;
  const uint8_t* src = reinterpret_cast<const uint8_t*>(S.InRgb8 + in);
  uint8_t* dst = reinterpret_cast<uint8_t*>(S.OutRgba8 + out);
  for (size_t i = HaveSsse3() ? Rgb8ToRgba8Ssse3(src, dst, n) : 0; i + 1 < n; ++i)
    Store32(dst + 4 * i, Load32(src + 3 * i) | 0xFF000000u);
  const size_t l = n - 1;
  dst[4 * l] = src[3 * l];
  dst[4 * l + 1] = src[3 * l + 1];
  dst[4 * l + 2] = src[3 * l + 2];
  dst[4 * l + 3] = 255;
}

void Rgba8ToRgb8(TTorvel& S, size_t in, size_t out, size_t n) {
  if (n == 0) return;
  const uint8_t* src = reinterpret_cast<const uint8_t*>(S.InRgba8 + in);
  uint8_t* dst = reinterpret_cast<uint8_t*>(S.OutRgb8 + out);
  for (size_t i = HaveSsse3() ? Rgba8ToRgb8Ssse3(src, dst, n) : 0; i + 1 < n; ++i)
    Store32(dst + 3 * i, Load32(src + 4 * i));
  const size_t l = n - 1;
  dst[3 * l] = src[4 * l];
  dst[3 * l + 1] = src[4 * l + 1];
  dst[3 * l + 2] = src[4 * l + 2];
}

void CopyRgba8(TTorvel& S, size_t in, size_t out, size_t n) {
  std::memmove(S.OutRgba8 + out, S.InRgba8 + in, n * sizeof(TRgba8));
}

void CopyRgb16(TTorvel& S, size_t in, size_t out, size_t n) {
  std::memmove(S.OutRgb16 + out, S.InRgb16 + in, n * sizeof(TRgb16));
}

// 16-bit pixels of three samples into four, the samples' bytes exchanged or not.
template <bool Swap>
void Rgb16ToRgba16T(TTorvel& S, size_t in, size_t out, size_t n) {
  if (n == 0) return;
  const uint8_t* src = reinterpret_cast<const uint8_t*>(S.InRgb16 + in);
  uint8_t* dst = reinterpret_cast<uint8_t*>(S.OutRgba16 + out);
  for (size_t i = 0; i + 1 < n; ++i) {
    const uint64_t v = Load64(src + 6 * i);
    Store64(dst + 8 * i, (Swap ? Swap16x4(v) : v) | 0xFFFF000000000000ull);
  }
  const TRgb16& p = S.InRgb16[in + n - 1];
  TRgba16& q = S.OutRgba16[out + n - 1];
  q = {Swap ? Swap16(p.R) : p.R, Swap ? Swap16(p.G) : p.G, Swap ? Swap16(p.B) : p.B, 65535};
}

template <bool Swap>
void Rgba16ToRgb16T(TTorvel& S, size_t in, size_t out, size_t n) {
  if (n == 0) return;
  const uint8_t* src = reinterpret_cast<const uint8_t*>(S.InRgba16 + in);
  uint8_t* dst = reinterpret_cast<uint8_t*>(S.OutRgb16 + out);
  for (size_t i = 0; i + 1 < n; ++i) {
    const uint64_t v = Load64(src + 8 * i);
    Store64(dst + 6 * i, Swap ? Swap16x4(v) : v);
  }
  const TRgba16& p = S.InRgba16[in + n - 1];
  TRgb16& q = S.OutRgb16[out + n - 1];
  q = {Swap ? Swap16(p.R) : p.R, Swap ? Swap16(p.G) : p.G, Swap ? Swap16(p.B) : p.B};
}

void Rgb16ToRgba16(TTorvel& S, size_t in, size_t out, size_t n) { Rgb16ToRgba16T<false>(S, in, out, n); }
void Rgba16ToRgb16(TTorvel& S, size_t in, size_t out, size_t n) { Rgba16ToRgb16T<false>(S, in, out, n); }
void SwapRgb16ToRgba16(TTorvel& S, size_t in, size_t out, size_t n) { Rgb16ToRgba16T<true>(S, in, out, n); }
void SwapRgba16ToRgb16(TTorvel& S, size_t in, size_t out, size_t n) { Rgba16ToRgb16T<true>(S, in, out, n); }

void CopyRgba16(TTorvel& S, size_t in, size_t out, size_t n) {
  std::memmove(S.OutRgba16 + out, S.InRgba16 + in, n * sizeof(TRgba16));
}

void SwapRgb16(TTorvel& S, size_t in, size_t out, size_t n) {
  const uint16_t* __restrict src = reinterpret_cast<const uint16_t*>(S.InRgb16 + in);
  uint16_t* __restrict dst = reinterpret_cast<uint16_t*>(S.OutRgb16 + out);
  for (size_t i = 0; i < 3 * n; ++i) dst[i] = Swap16(src[i]);
}

void SwapRgba16(TTorvel& S, size_t in, size_t out, size_t n) {
  const uint16_t* __restrict src = reinterpret_cast<const uint16_t*>(S.InRgba16 + in);
  uint16_t* __restrict dst = reinterpret_cast<uint16_t*>(S.OutRgba16 + out);
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
