// The vectorisable accumulation step against the x87 arithmetic it replaces.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "resize/exactmac.h"

using namespace torvel;

namespace {

float extended(float p, float w, float acc) { return static_cast<float>(static_cast<long double>(p) * w + acc); }

float sample8(int b) { return static_cast<float>(b * static_cast<double>(1.0f / 255.0f)); }

}  // namespace

TEST(ExactMac, AgreesWithExtendedPrecisionOnRandomOperands) {
  std::mt19937_64 r(7);
  for (int i = 0; i < 3000000; ++i) {
    const float p = sample8(static_cast<int>(r() & 255));
    const float w = std::ldexp(static_cast<float>((r() >> 40) | (1ull << 23)) / (1 << 23), -static_cast<int>(r() % 30) - 1) *
                    ((r() & 1) ? 1.0f : -1.0f);
    float a = std::ldexp(static_cast<float>((r() >> 40) | (1ull << 23)) / (1 << 23), -static_cast<int>(r() % 40)) *
              ((r() & 1) ? 1.0f : -1.0f);
    if ((r() & 15) == 0) a = 0;
    ASSERT_EQ(exactMac(p, w, a), extended(p, w, a)) << p << " " << w << " " << a;
  }
}

// Products just off a power of two, half a unit of the accumulator: the sums
// that a plain double computation rounds the wrong way.
TEST(ExactMac, AgreesNearTiesWherePlainDoubleFails) {
  long long tested = 0, plainWrong = 0;
  for (int b = 1; b < 256; b += 3) {
    const float p = sample8(b);
    for (int k = -20; k < -8; ++k) {
      const float w0 = static_cast<float>(std::ldexp(1.0, k) / p);
      for (int d = -2; d <= 2; ++d) {
        float w = w0;
        for (int s = 0; s < std::abs(d); ++s) w = std::nextafter(w, d > 0 ? 10.0f : -10.0f);
        for (int e = k + 20; e <= k + 40 && e < 5; ++e) {
          for (int m = 0; m < 16; ++m) {
            const float base = std::ldexp(static_cast<float>((1 << 23) + m * 37 + 1), e - 23);
            for (float a : {base, -base}) {
              ++tested;
              const float want = extended(p, w, a);
              ASSERT_EQ(exactMac(p, w, a), want) << p << " " << w << " " << a;
              plainWrong += static_cast<float>(static_cast<double>(p) * w + a) != want;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(tested, 100000);
  EXPECT_GT(plainWrong, 0) << "the cases should include ties a plain double sum gets wrong";
}
