#include "resize/kernels.h"

#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "resize/exactmac.h"

namespace torvel {

namespace {

// Writes one quantised sample.
template <typename Sample>
inline void putSample(Sample* d, float v, int sampleMax) {
  const double r = std::nearbyint(static_cast<double>(v) * sampleMax);
  *d = static_cast<Sample>(r < 0 ? 0 : r > sampleMax ? sampleMax : r);
}

// One destination row from the filtered line: three channels per pixel.
template <typename Sample>
void horizontalScalar(const float* line, const ContributorTable& mapX, int32_t xMin, Sample* d, int sampleMax) {
  for (size_t i = 0; i < mapX.size(); ++i) {
    float acc[3] = {0, 0, 0};
    for (const Contribution& c : mapX[i]) {
      const float* p = line + size_t(c.pos - xMin) * 3;
      for (int k = 0; k < 3; ++k) acc[k] = exactMac(p[k], c.weight, acc[k]);
    }
    for (int k = 0; k < 3; ++k) putSample(d + i * 3 + k, acc[k], sampleMax);
  }
}

#if defined(__x86_64__)
// A sum half-way between two singles: rare, settled one by one.
__attribute__((target("avx2"), noinline)) __m128 macPixelTie(__m128 acc, const float* p, float w) {
  float a[4];
  _mm_storeu_ps(a, acc);
  for (int k = 0; k < 3; ++k) a[k] = exactMac(p[k], w, a[k]);
  return _mm_loadu_ps(a);
}

// One contribution to the three channels of a pixel, in four lanes.
__attribute__((target("avx2"), always_inline)) inline __m128 macPixel(__m128 acc, const float* p, float w) {
  const __m256i low29 = _mm256_set1_epi64x(0x1FFFFFFF), half = _mm256_set1_epi64x(0x10000000);
  const __m256d t = _mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(p)), _mm256_set1_pd(w));
  const __m256d hi = _mm256_add_pd(t, _mm256_cvtps_pd(acc));
  const __m256i mid = _mm256_cmpeq_epi64(_mm256_and_si256(_mm256_castpd_si256(hi), low29), half);
  if (__builtin_expect(_mm256_testz_si256(mid, mid), 1)) return _mm256_cvtpd_ps(hi);
  return macPixelTie(acc, p, w);
}

// One pixel's cluster.
__attribute__((target("avx2"))) __m128 clusterSum(const float* line, const Cluster& cluster, int32_t xMin) {
  __m128 acc = _mm_setzero_ps();
  for (const Contribution& c : cluster) acc = macPixel(acc, line + size_t(c.pos - xMin) * 3, c.weight);
  return acc;
}

// Three channels in four lanes, kept in registers over the cluster, four
// pixels at a time so that their chains overlap; the line has one float of
// padding at its end for the fourth lane.
template <typename Sample>
__attribute__((target("avx2"))) void horizontalAvx2(const float* line, const ContributorTable& mapX, int32_t xMin,
                                                    Sample* d, int sampleMax) {
  const size_t n = mapX.size();
  auto putPixel = [&](size_t i, __m128 acc) {
    float out[4];
    _mm_storeu_ps(out, acc);
    for (int k = 0; k < 3; ++k) putSample(d + i * 3 + k, out[k], sampleMax);
  };
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const Cluster *c0 = &mapX[i], *c1 = &mapX[i + 1], *c2 = &mapX[i + 2], *c3 = &mapX[i + 3];
    const size_t m = c0->size();
    if (c1->size() != m || c2->size() != m || c3->size() != m) {
      for (size_t k = i; k < i + 4; ++k) putPixel(k, clusterSum(line, mapX[k], xMin));
      continue;
    }
    __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    for (size_t k = 0; k < m; ++k) {
      a0 = macPixel(a0, line + size_t((*c0)[k].pos - xMin) * 3, (*c0)[k].weight);
      a1 = macPixel(a1, line + size_t((*c1)[k].pos - xMin) * 3, (*c1)[k].weight);
      a2 = macPixel(a2, line + size_t((*c2)[k].pos - xMin) * 3, (*c2)[k].weight);
      a3 = macPixel(a3, line + size_t((*c3)[k].pos - xMin) * 3, (*c3)[k].weight);
    }
    putPixel(i, a0);
    putPixel(i + 1, a1);
    putPixel(i + 2, a2);
    putPixel(i + 3, a3);
  }
  for (; i < n; ++i) putPixel(i, clusterSum(line, mapX[i], xMin));
}

// Two pixels (three channels each in four lanes) per register, four registers
// in flight; pixels whose clusters differ in size go through clusterSum.
__attribute__((target("avx512f,avx2"), noinline)) __m512 pairTie(__m512 acc, const float* p0, const float* p1,
                                                                 float w0, float w1) {
  alignas(64) float a[16];
  _mm512_store_ps(a, acc);
  for (int k = 0; k < 3; ++k) {
    a[k] = exactMac(p0[k], w0, a[k]);
    a[4 + k] = exactMac(p1[k], w1, a[4 + k]);
  }
  return _mm512_load_ps(a);
}

// acc lanes 0..3: pixel A, 4..7: pixel B (as floats in the low half).
__attribute__((target("avx512f,avx2"), always_inline)) inline __m512 macPair(__m512 acc, const float* p0,
                                                                            const float* p1, float w0, float w1) {
  const __m512i low29 = _mm512_set1_epi64(0x1FFFFFFF), half = _mm512_set1_epi64(0x10000000);
  const __m256 pp = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(p0)), _mm_loadu_ps(p1), 1);
  const __m512d wd = _mm512_insertf64x4(_mm512_set1_pd(w0), _mm256_set1_pd(w1), 1);
  const __m512d hi =
      _mm512_add_pd(_mm512_mul_pd(_mm512_cvtps_pd(pp), wd), _mm512_cvtps_pd(_mm512_castps512_ps256(acc)));
  if (__builtin_expect(_mm512_cmpeq_epi64_mask(_mm512_and_si512(_mm512_castpd_si512(hi), low29), half) != 0, 0))
    return pairTie(acc, p0, p1, w0, w1);
  return _mm512_castps256_ps512(_mm512_cvtpd_ps(hi));
}

template <typename Sample>
__attribute__((target("avx512f,avx2"))) void horizontalAvx512(const float* line, const ContributorTable& mapX,
                                                               int32_t xMin, Sample* d, int sampleMax) {
  const size_t n = mapX.size();
  auto putPixel = [&](size_t i, const float* v) {
    for (int k = 0; k < 3; ++k) putSample(d + i * 3 + k, v[k], sampleMax);
  };
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const size_t m = mapX[i].size();
    bool same = true;
    for (size_t q = 1; q < 8; ++q) same &= mapX[i + q].size() == m;
    if (!same) {
      for (size_t q = i; q < i + 8; ++q) {
        float out[4];
        _mm_storeu_ps(out, clusterSum(line, mapX[q], xMin));
        putPixel(q, out);
      }
      continue;
    }
    __m512 a[4] = {_mm512_setzero_ps(), _mm512_setzero_ps(), _mm512_setzero_ps(), _mm512_setzero_ps()};
    for (size_t k = 0; k < m; ++k) {
      for (int r = 0; r < 4; ++r) {
        const Contribution& c0 = mapX[i + 2 * r][k];
        const Contribution& c1 = mapX[i + 2 * r + 1][k];
        a[r] = macPair(a[r], line + size_t(c0.pos - xMin) * 3, line + size_t(c1.pos - xMin) * 3, c0.weight, c1.weight);
      }
    }
    for (int r = 0; r < 4; ++r) {
      alignas(64) float out[16];
      _mm512_store_ps(out, a[r]);
      putPixel(i + 2 * r, out);
      putPixel(i + 2 * r + 1, out + 4);
    }
  }
  for (; i < n; ++i) {
    float out[4];
    _mm_storeu_ps(out, clusterSum(line, mapX[i], xMin));
    putPixel(i, out);
  }
}

#endif

}  // namespace

const char* kernelFeatures() {
#if defined(__x86_64__)
  if (haveAvx512()) return "AVX-512";
  if (haveAvx2()) return "AVX2";
#endif
  return "none (scalar)";
}

template <typename Sample>
FilterKernels<Sample> selectFilterKernels(KernelSet set) {
#if defined(__x86_64__)
  if (set == KernelSet::Widest && haveAvx512()) return {verticalKernel<Sample>(set), horizontalAvx512<Sample>};
  if (set != KernelSet::Scalar && haveAvx2()) return {verticalKernel<Sample>(set), horizontalAvx2<Sample>};
#endif
  return {verticalKernel<Sample>(KernelSet::Scalar), horizontalScalar<Sample>};
}

template FilterKernels<uint8_t> selectFilterKernels<uint8_t>(KernelSet);
template FilterKernels<uint16_t> selectFilterKernels<uint16_t>(KernelSet);

}  // namespace torvel
