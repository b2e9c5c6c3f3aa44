#include "resize/verticalkernels.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "resize/exactmac.h"
#include "resize/resample.h"

namespace torvel {

namespace {

template <typename Sample>
inline float sampleValue(Sample s, float scale) {
  return static_cast<float>(s * static_cast<double>(scale));
}

// Output g's chain for element k.
template <typename Sample>
float chain(const VerticalGroup<Sample>& v, int g, size_t k, float scale) {
  float acc = 0;
  for (uint32_t t = 0; t < v.taps[g]; ++t)
    acc = exactMac(sampleValue(v.rows[v.first[g] + t][k], scale), static_cast<float>(v.weights[g][t]), acc);
  return acc;
}

template <typename Sample>
void scalarChains(const VerticalGroup<Sample>& v, size_t from, size_t to, float scale) {
  for (int g = 0; g < v.outputs; ++g)
    for (size_t k = from; k < to; ++k) v.out[g][k] = chain(v, g, k, scale);
}

template <typename Sample>
void verticalScalar(const VerticalGroup<Sample>& v, size_t n, float scale) {
  scalarChains(v, 0, n, scale);
}

#if defined(__x86_64__)
// The vector kernels keep a block of elements of every output in registers
// over all the taps: no accumulator goes through memory, and each source
// sample is converted once for all the outputs that read it. A step is
// hi = p x w + acc in double (one fused operation: p x w of two singles is
// exact in a double), then acc = hi rounded to single; a step where some sum
// lies half-way between two singles is settled lane by lane with exactMac.

// Four samples as singles times `scale`, rounded once.
template <typename Sample>
__attribute__((target("avx2,fma"), always_inline)) inline __m256d samples4(const Sample* s, __m128 scale) {
  __m128i b32;
  if constexpr (sizeof(Sample) == 1) {
    int32_t four;
    std::memcpy(&four, s, 4);
    b32 = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(four));
  } else {
    b32 = _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s)));
  }
  return _mm256_cvtps_pd(_mm_mul_ps(_mm_cvtepi32_ps(b32), scale));
}

__attribute__((target("avx2,fma"), noinline)) __m256d tieStep4(__m256d acc, __m256d p, double w) {
  alignas(32) double a[4], q[4];
  _mm256_store_pd(a, acc);
  _mm256_store_pd(q, p);
  for (int i = 0; i < 4; ++i) a[i] = exactMac(static_cast<float>(q[i]), static_cast<float>(w), static_cast<float>(a[i]));
  return _mm256_load_pd(a);
}

__attribute__((target("avx2,fma"), always_inline)) inline __m256d step4(__m256d acc, __m256d p, double w) {
  const __m256i low29 = _mm256_set1_epi64x(0x1FFFFFFF), half = _mm256_set1_epi64x(0x10000000);
  const __m256d hi = _mm256_fmadd_pd(p, _mm256_set1_pd(w), acc);
  const __m256i tie = _mm256_cmpeq_epi64(_mm256_and_si256(_mm256_castpd_si256(hi), low29), half);
  if (__builtin_expect(_mm256_testz_si256(tie, tie), 1)) return _mm256_cvtps_pd(_mm256_cvtpd_ps(hi));
  return tieStep4(acc, p, w);
}

template <typename Sample, int G, int Chains>
__attribute__((target("avx2,fma"), always_inline)) inline void blockAvx2(const VerticalGroup<Sample>& v, size_t k,
                                                                          __m128 scale) {
  __m256d acc[G][Chains];
  for (int g = 0; g < G; ++g)
    for (int c = 0; c < Chains; ++c) acc[g][c] = _mm256_setzero_pd();
  for (size_t r = 0; r < v.rowCount; ++r) {
    __m256d p[Chains];
    for (int c = 0; c < Chains; ++c) p[c] = samples4(v.rows[r] + k + 4 * c, scale);
    for (int g = 0; g < G; ++g) {
      const uint32_t t = static_cast<uint32_t>(r) - v.first[g];
      if (t >= v.taps[g]) continue;
      for (int c = 0; c < Chains; ++c) acc[g][c] = step4(acc[g][c], p[c], v.weights[g][t]);
    }
  }
  for (int g = 0; g < G; ++g)
    for (int c = 0; c < Chains; ++c) _mm_storeu_ps(v.out[g] + k + 4 * c, _mm256_cvtpd_ps(acc[g][c]));
}

template <typename Sample, int G>
__attribute__((target("avx2,fma"))) void groupAvx2(const VerticalGroup<Sample>& v, size_t n, float scale) {
  const __m128 scf = _mm_set1_ps(scale);
  constexpr int kChains = G == 1 ? 4 : 2;
  size_t k = 0;
  for (; k + 4 * kChains <= n; k += 4 * kChains) blockAvx2<Sample, G, kChains>(v, k, scf);
  for (; k + 4 <= n; k += 4) blockAvx2<Sample, G, 1>(v, k, scf);
  scalarChains(v, k, n, scale);
}

// Eight samples as singles times `scale`, rounded once (the product of an
// integer of at most 16 bits and a single is exact before rounding).
template <typename Sample>
__attribute__((target("avx512f,avx2"), always_inline)) inline __m512d samples8(const Sample* s, __m256 scale) {
  __m256i b32;
  if constexpr (sizeof(Sample) == 1)
    b32 = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s)));
  else
    b32 = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
  return _mm512_cvtps_pd(_mm256_mul_ps(_mm256_cvtepi32_ps(b32), scale));
}

// exactMac on eight lanes at once, for a step where some sum lies half-way
// between two singles (frequent enough to be worth it): the same bit
// operations, with the lanes' choices made by masks.
__attribute__((target("avx512f,avx2"), noinline)) __m512d tieStep8(__m512d acc, __m512d p, double w) {
  const __m512d t = _mm512_mul_pd(p, _mm512_set1_pd(w));
  const __m512d hi = _mm512_add_pd(t, acc);
  const __m512d bb = _mm512_sub_pd(hi, t);
  const __m512d lo = _mm512_add_pd(_mm512_sub_pd(t, _mm512_sub_pd(hi, bb)), _mm512_sub_pd(acc, bb));
  const __m512i hb = _mm512_castpd_si512(hi), low29 = _mm512_set1_epi64(0x1FFFFFFF);
  const __mmask8 mid = _mm512_cmpeq_epi64_mask(_mm512_and_si512(hb, low29), _mm512_set1_epi64(0x10000000));
  const __m512d thr = _mm512_castsi512_pd(_mm512_sub_epi64(
      _mm512_and_si512(hb, _mm512_set1_epi64(0x7FF0000000000000ll)), _mm512_set1_epi64(64ll << 52)));
  const __m512d minusThr = _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(thr), _mm512_set1_epi64(INT64_MIN)));
  const __m256 toward0 = _mm512_cvtpd_ps(_mm512_castsi512_pd(_mm512_andnot_si512(low29, hb)));
  const __m256 away = _mm256_castsi256_ps(_mm256_add_epi32(_mm256_castps_si256(toward0), _mm256_set1_epi32(1)));
  const __m512d toward0d = _mm512_cvtps_pd(toward0), awayd = _mm512_cvtps_pd(away);
  const __mmask8 negative = _mm512_cmp_pd_mask(hi, _mm512_setzero_pd(), _CMP_LT_OQ);
  const __m512d up = _mm512_mask_blend_pd(negative, awayd, toward0d);
  const __m512d down = _mm512_mask_blend_pd(negative, toward0d, awayd);
  __m512d r = _mm512_cvtps_pd(_mm512_cvtpd_ps(hi));
  r = _mm512_mask_blend_pd(mid & _mm512_cmp_pd_mask(lo, minusThr, _CMP_LT_OQ), r, down);
  return _mm512_mask_blend_pd(mid & _mm512_cmp_pd_mask(lo, thr, _CMP_GT_OQ), r, up);
}

__attribute__((target("avx512f,avx2"), always_inline)) inline __m512d step8(__m512d acc, __m512d p, double w) {
  const __m512i low29 = _mm512_set1_epi64(0x1FFFFFFF), half = _mm512_set1_epi64(0x10000000);
  const __m512d hi = _mm512_fmadd_pd(p, _mm512_set1_pd(w), acc);
  if (__builtin_expect(_mm512_cmpeq_epi64_mask(_mm512_and_si512(_mm512_castpd_si512(hi), low29), half) == 0, 1))
    return _mm512_cvtps_pd(_mm512_cvtpd_ps(hi));
  return tieStep8(acc, p, w);
}

template <typename Sample, int G, int Chains>
__attribute__((target("avx512f,avx2"), always_inline)) inline void blockAvx512(const VerticalGroup<Sample>& v,
                                                                              size_t k, __m256 scale) {
  __m512d acc[G][Chains];
  for (int g = 0; g < G; ++g)
    for (int c = 0; c < Chains; ++c) acc[g][c] = _mm512_setzero_pd();
  for (size_t r = 0; r < v.rowCount; ++r) {
    // Dozens of rows are read side by side, too many streams for the
    // processor's own prefetching.
    _mm_prefetch(reinterpret_cast<const char*>(v.rows[r] + k) + 256, _MM_HINT_T0);
    __m512d p[Chains];
    for (int c = 0; c < Chains; ++c) p[c] = samples8(v.rows[r] + k + 8 * c, scale);
    for (int g = 0; g < G; ++g) {
      const uint32_t t = static_cast<uint32_t>(r) - v.first[g];
      if (t >= v.taps[g]) continue;
      for (int c = 0; c < Chains; ++c) acc[g][c] = step8(acc[g][c], p[c], v.weights[g][t]);
    }
  }
  for (int g = 0; g < G; ++g)
    for (int c = 0; c < Chains; ++c) _mm256_storeu_ps(v.out[g] + k + 8 * c, _mm512_cvtpd_ps(acc[g][c]));
}

template <typename Sample, int G>
__attribute__((target("avx512f,avx2"))) void groupAvx512(const VerticalGroup<Sample>& v, size_t n, float scale) {
  const __m256 scf = _mm256_set1_ps(scale);
  constexpr int kChains = 4;
  size_t k = 0;
  for (; k + 8 * kChains <= n; k += 8 * kChains) blockAvx512<Sample, G, kChains>(v, k, scf);
  for (; k + 8 <= n; k += 8) blockAvx512<Sample, G, 1>(v, k, scf);
  scalarChains(v, k, n, scale);
}

template <typename Sample>
void verticalAvx2(const VerticalGroup<Sample>& v, size_t n, float scale) {
  switch (v.outputs) {
    case 1: return groupAvx2<Sample, 1>(v, n, scale);
    case 2: return groupAvx2<Sample, 2>(v, n, scale);
    case 3: return groupAvx2<Sample, 3>(v, n, scale);
    default: return groupAvx2<Sample, 4>(v, n, scale);
  }
}

template <typename Sample>
void verticalAvx512(const VerticalGroup<Sample>& v, size_t n, float scale) {
  switch (v.outputs) {
    case 1: return groupAvx512<Sample, 1>(v, n, scale);
    case 2: return groupAvx512<Sample, 2>(v, n, scale);
    case 3: return groupAvx512<Sample, 3>(v, n, scale);
    default: return groupAvx512<Sample, 4>(v, n, scale);
  }
}
#endif

}  // namespace

#if defined(__x86_64__)
bool haveAvx512() {
  static const bool have = __builtin_cpu_supports("avx512f");
  return have;
}

bool haveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return have;
}
#else
bool haveAvx512() { return false; }
bool haveAvx2() { return false; }
#endif

template <typename Sample>
VerticalKernel<Sample> verticalKernel(KernelSet set) {
#if defined(__x86_64__)
  if (set == KernelSet::Widest && haveAvx512()) return verticalAvx512<Sample>;
  if (set != KernelSet::Scalar && haveAvx2()) return verticalAvx2<Sample>;
#endif
  return verticalScalar<Sample>;
}

template VerticalKernel<uint8_t> verticalKernel<uint8_t>(KernelSet);
template VerticalKernel<uint16_t> verticalKernel<uint16_t>(KernelSet);

}  // namespace torvel
