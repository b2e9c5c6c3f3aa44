// The accumulation kernels of the parallel resampling path. Each computes,
// element by element, exactly what the plain path computes (see exactmac.h);
// they differ only in how many elements they take at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "resize/resample.h"

namespace torvel {

template <typename Sample>
struct FilterKernels {
  // acc[k] := single (p[k] x w + acc[k]), p[k] the sample s[k] as a float.
  void (*vertical)(float* acc, const Sample* s, size_t n, float w, float scale);
  // One destination row from the vertically filtered line (three channels
  // per pixel, one float of padding at its end).
  void (*horizontal)(const float* line, const ContributorTable& mapX, int32_t xMin, Sample* d, int sampleMax);
};

// The vector extensions the resampling kernels use on this processor:
// "AVX-512", "AVX2" or "none (scalar)".
const char* kernelFeatures();

// The widest kernels this processor runs (AVX-512, AVX2), or the scalar ones.
template <typename Sample>
FilterKernels<Sample> selectFilterKernels(bool allowVector);

}  // namespace torvel
