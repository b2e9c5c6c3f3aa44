// The twelve converters. Each is a plain loop, or moves a whole pixel per
// machine word, so the choice made once per span is the only decision.
#include "engine/spans.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace torvel {

namespace {

inline uint16_t swap16(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
// Exchanges the bytes of each 16-bit sample of a word.
inline uint64_t swap16x4(uint64_t v) {
  return ((v >> 8) & 0x00FF00FF00FF00FFull) | ((v << 8) & 0xFF00FF00FF00FF00ull);
}

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the word-wide converters assume a little-endian host");

void copyRgb8(const uint8_t* in, uint8_t* out, size_t n) { std::memmove(out, in, n * 3); }
void copyRgba8(const uint8_t* in, uint8_t* out, size_t n) { std::memmove(out, in, n * 4); }
void copyRgb16(const uint8_t* in, uint8_t* out, size_t n) { std::memmove(out, in, n * 6); }
void copyRgba16(const uint8_t* in, uint8_t* out, size_t n) { std::memmove(out, in, n * 8); }

#if defined(__x86_64__)
// Four pixels per shuffle; the 16-byte load reads 4 bytes past them, so the
// loop stops while at least two pixels remain.
__attribute__((target("ssse3"))) size_t rgb8ToRgba8Ssse3(const uint8_t* src, uint8_t* dst, size_t n) {
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
__attribute__((target("ssse3"))) size_t rgba8ToRgb8Ssse3(const uint8_t* src, uint8_t* dst, size_t n) {
  const __m128i shuffle = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  size_t i = 0;
  for (; i + 6 <= n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * i), _mm_shuffle_epi8(v, shuffle));
  }
  return i;
}

bool haveSsse3() {
  static const bool have = __builtin_cpu_supports("ssse3");
  return have;
}
#else
size_t rgb8ToRgba8Ssse3(const uint8_t*, uint8_t*, size_t) { return 0; }
size_t rgba8ToRgb8Ssse3(const uint8_t*, uint8_t*, size_t) { return 0; }
bool haveSsse3() { return false; }
#endif

// The converters that change the pixel size move a whole pixel with one load
// and one store of a machine word, which overlaps the next pixel; the last
// pixel of a span is moved sample by sample so nothing beyond it is touched.
void rgb8ToRgba8(const uint8_t* src, uint8_t* dst, size_t n) {
  for (size_t i = haveSsse3() ? rgb8ToRgba8Ssse3(src, dst, n) : 0; i + 1 < n; ++i)
    store32(dst + 4 * i, load32(src + 3 * i) | 0xFF000000u);
  const size_t l = n - 1;
  std::memcpy(dst + 4 * l, src + 3 * l, 3);
  dst[4 * l + 3] = 255;
}

void rgba8ToRgb8(const uint8_t* src, uint8_t* dst, size_t n) {
  for (size_t i = haveSsse3() ? rgba8ToRgb8Ssse3(src, dst, n) : 0; i + 1 < n; ++i)
    store32(dst + 3 * i, load32(src + 4 * i));
  const size_t l = n - 1;
  std::memcpy(dst + 3 * l, src + 4 * l, 3);
}

// 16-bit pixels of three samples into four, the samples' bytes exchanged or not.
template <bool Swap>
void rgb16ToRgba16(const uint8_t* src, uint8_t* dst, size_t n) {
  for (size_t i = 0; i + 1 < n; ++i) {
    const uint64_t v = load64(src + 6 * i);
    store64(dst + 8 * i, (Swap ? swap16x4(v) : v) | 0xFFFF000000000000ull);
  }
  uint16_t p[4];
  std::memcpy(p, src + 6 * (n - 1), 6);
  for (int k = 0; k < 3; ++k) p[k] = Swap ? swap16(p[k]) : p[k];
  p[3] = 65535;
  std::memcpy(dst + 8 * (n - 1), p, 8);
}

template <bool Swap>
void rgba16ToRgb16(const uint8_t* src, uint8_t* dst, size_t n) {
  for (size_t i = 0; i + 1 < n; ++i) {
    const uint64_t v = load64(src + 8 * i);
    store64(dst + 6 * i, Swap ? swap16x4(v) : v);
  }
  uint16_t p[3];
  std::memcpy(p, src + 8 * (n - 1), 6);
  for (int k = 0; k < 3; ++k) p[k] = Swap ? swap16(p[k]) : p[k];
  std::memcpy(dst + 6 * (n - 1), p, 6);
}

template <int Samples>
void swapSamples16(const uint8_t* in, uint8_t* out, size_t n) {
  for (size_t i = 0; i < Samples * n; ++i) {
    uint16_t v;
    std::memcpy(&v, in + 2 * i, 2);
    v = swap16(v);
    std::memcpy(out + 2 * i, &v, 2);
  }
}

// [16-bit orders differ][in channels is 4][out channels is 4]
constexpr SpanConverter::Function converters8[2][2] = {{copyRgb8, rgb8ToRgba8}, {rgba8ToRgb8, copyRgba8}};
constexpr SpanConverter::Function converters16[2][2][2] = {
    {{copyRgb16, rgb16ToRgba16<false>}, {rgba16ToRgb16<false>, copyRgba16}},
    {{swapSamples16<3>, rgb16ToRgba16<true>}, {rgba16ToRgb16<true>, swapSamples16<4>}}};

// Gray outputs from lines whose samples are equal (a gray input read as RGB):
// the first sample, and the alpha when kept (full when the line has none).
template <typename T, int In, int Out, bool Swap>
void toGray(const uint8_t* src, uint8_t* dst, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    T v[2] = {0, static_cast<T>(~T{0})};
    std::memcpy(&v[0], src + i * In * sizeof(T), sizeof(T));
    if (In == 4) std::memcpy(&v[1], src + (i * In + 3) * sizeof(T), sizeof(T));
    for (int k = 0; k < Out; ++k) {
      if constexpr (Swap) v[k] = static_cast<T>(swap16(static_cast<uint16_t>(v[k])));
      std::memcpy(dst + (i * Out + k) * sizeof(T), &v[k], sizeof(T));
    }
  }
}

// [16-bit orders differ][in channels is 4][out channels is 2]
constexpr SpanConverter::Function grayConverters8[2][2] = {{toGray<uint8_t, 3, 1, false>, toGray<uint8_t, 3, 2, false>},
                                                          {toGray<uint8_t, 4, 1, false>, toGray<uint8_t, 4, 2, false>}};
constexpr SpanConverter::Function grayConverters16[2][2][2] = {
    {{toGray<uint16_t, 3, 1, false>, toGray<uint16_t, 3, 2, false>},
     {toGray<uint16_t, 4, 1, false>, toGray<uint16_t, 4, 2, false>}},
    {{toGray<uint16_t, 3, 1, true>, toGray<uint16_t, 3, 2, true>},
     {toGray<uint16_t, 4, 1, true>, toGray<uint16_t, 4, 2, true>}}};

bool validChannels(int c) { return c == 3 || c == 4; }

SpanConverter::Function grayConverter(const PixelLayout& from, const PixelLayout& to) {
  const int in4 = from.channels == 4, out2 = to.channels == 2;
  if (from.bits == 8) return grayConverters8[in4][out2];
  return from.bits == 16 ? grayConverters16[from.littleEndian != to.littleEndian][in4][out2] : nullptr;
}

}  // namespace

bool SpanConverter::copies() const {
  return convert_ == copyRgb8 || convert_ == copyRgba8 || convert_ == copyRgb16 || convert_ == copyRgba16;
}

SpanConverter::SpanConverter(const PixelLayout& from, const PixelLayout& to) {
  const bool gray = to.channels == 1 || to.channels == 2;
  if (!validChannels(from.channels) || !(validChannels(to.channels) || gray)) return;
  const int in4 = from.channels == 4, out4 = to.channels == 4;
  if (gray)
    convert_ = grayConverter(from, to);
  else if (from.bits == 8)
    convert_ = converters8[in4][out4];
  else if (from.bits == 16)
    convert_ = converters16[from.littleEndian != to.littleEndian][in4][out4];
  // The output takes the input's bits: the output pixel has the input's sample size.
  inPixel_ = static_cast<size_t>(from.channels * from.bits / 8);
  outPixel_ = static_cast<size_t>(to.channels * from.bits / 8);
}

}  // namespace torvel
