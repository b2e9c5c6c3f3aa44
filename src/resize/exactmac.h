// One step of the filters' accumulation, single (p x w + acc) with the
// product and the sum formed in extended precision and the result rounded to
// single, computed without the x87 unit so that it vectorises.
//
// Why it is exact: p x w of two singles is exact in a double. TwoSum gives the
// exact sum s = hi + lo with hi = s rounded to 53 bits. Rounding s to 64 bits
// and then to 24 gives hi rounded to 24 bits, except when hi lies exactly
// half-way between two singles: then the 64-bit rounding of lo decides, and
// lo moves the result off the tie only when it exceeds half a 64-bit unit.
#pragma once

#include <cstdint>
#include <cstring>

namespace torvel {

inline uint64_t doubleBits(double d) {
  uint64_t b;
  std::memcpy(&b, &d, 8);
  return b;
}

inline double bitsDouble(uint64_t b) {
  double d;
  std::memcpy(&d, &b, 8);
  return d;
}

inline float bitsFloat(uint32_t b) {
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}

inline uint32_t floatBits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

// The scalar form of the vector kernels; tests hold it to the x87 arithmetic.
inline float exactMac(float p, float w, float acc) {
  const double t = static_cast<double>(p) * w;
  const double a = acc;
  const double hi = t + a;
  const double bb = hi - t;
  const double lo = (t - (hi - bb)) + (a - bb);
  const uint64_t hb = doubleBits(hi);
  const bool mid = (hb & 0x1FFFFFFFull) == 0x10000000ull;
  if (!mid) return static_cast<float>(hi);
  const double thr = bitsDouble((hb & 0x7FF0000000000000ull) - (64ull << 52));
  const float toward0 = static_cast<float>(bitsDouble(hb & ~0x1FFFFFFFull));
  const float away = bitsFloat(floatBits(toward0) + 1);
  const float up = hi < 0 ? toward0 : away, down = hi < 0 ? away : toward0;
  if (lo > thr) return up;
  if (lo < -thr) return down;
  return static_cast<float>(hi);
}

}  // namespace torvel
