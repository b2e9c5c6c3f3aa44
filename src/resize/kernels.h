// The accumulation kernels of the parallel resampling path. Each computes,
// element by element, exactly what the plain path computes (see exactmac.h);
// they differ only in how many elements they take at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "resize/resample.h"
#include "resize/verticalkernels.h"

namespace torvel {

template <typename Sample>
struct FilterKernels {
  VerticalKernel<Sample> vertical;
  // One destination row from the vertically filtered line (three channels
  // per pixel, one float of padding at its end).
  void (*horizontal)(const float* line, const ContributorTable& mapX, int32_t xMin, Sample* d, int sampleMax);
};

// The vector extensions the resampling kernels use on this processor:
// "AVX-512", "AVX2" or "none (scalar)".
const char* kernelFeatures();

// The kernels of `set`; a set this processor lacks falls back to the next
// narrower one.
template <typename Sample>
FilterKernels<Sample> selectFilterKernels(KernelSet set);

}  // namespace torvel
