// The vectorisable accumulation step against the x87 arithmetic it replaces.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "resize/exactmac.h"
#include "resize/resample.h"
#include "resize/verticalkernels.h"

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

// The vertical kernels of every set this machine runs, on the same near-tie
// operands: a first tap that sets the accumulator (sample 255 is 1.0), a
// second whose product lands half a unit of it away. Elements of a block
// differ in their sample, outputs of a group in their weights.
TEST(ExactMac, EveryKernelSetSettlesTiesAsTheScalarStep) {
  ASSERT_EQ(sample8(255), 1.0f);
  const size_t n = 255 + 37;  // whole blocks and a tail
  std::vector<uint8_t> ones(n, 255), samples(n);
  for (size_t k = 0; k < n; ++k) samples[k] = static_cast<uint8_t>(1 + k % 255);
  const uint8_t* rows[2] = {ones.data(), samples.data()};
  long long ties = 0;
  for (int k = -20; k < -8; k += 3) {
    for (int m = 0; m < 16; ++m) {
      const float a = std::ldexp(static_cast<float>((1 << 23) + m * 37 + 1), k + 24 - 23);
      std::vector<double> weights[4];
      for (int g = 0; g < 4; ++g) {  // a product just off half a unit of a, for one sample
        float w = static_cast<float>(std::ldexp(1.0, k) / sample8(1 + 40 * g));
        for (int s = 0; s < m % 3; ++s) w = std::nextafter(w, g % 2 ? 10.0f : -10.0f);
        weights[g] = {a, g < 2 ? w : -w};
      }
      std::vector<float> want[4], got[4];
      for (KernelSet set : {KernelSet::Scalar, KernelSet::Avx2, KernelSet::Widest}) {
        for (int outputs = 1; outputs <= 4; ++outputs) {
          VerticalGroup<uint8_t> v{rows, 2, outputs, {}, {}, {}, {}};
          for (int g = 0; g < outputs; ++g) {
            got[g].assign(n, -1.0f);
            v.taps[g] = 2;
            v.weights[g] = weights[g].data();
            v.out[g] = got[g].data();
          }
          verticalKernel<uint8_t>(set)(v, n, 1.0f / 255.0f);
          for (int g = 0; g < outputs; ++g) {
            if (set == KernelSet::Scalar && outputs == 4) {
              for (size_t i = 0; i < n; ++i) {
                const float p = sample8(samples[i]), w = static_cast<float>(weights[g][1]);
                ASSERT_EQ(got[g][i], extended(p, w, a));
                ties += static_cast<float>(static_cast<double>(p) * w + a) != got[g][i];
              }
              want[g] = got[g];
            }
            if (set != KernelSet::Scalar) EXPECT_EQ(got[g], want[g]) << "set " << int(set) << ", output " << g;
          }
        }
      }
    }
  }
  EXPECT_GT(ties, 0) << "the operands should include ties a plain double sum gets wrong";
}
