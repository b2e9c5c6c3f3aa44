// The vertical half of the filtered scaling: destination rows as sums of
// whole source rows, up to four destination rows at a time so that a source
// sample is converted once for every row that reads it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvel {

enum class KernelSet;

inline constexpr int maxGroupRows = 4;

template <typename Sample>
struct VerticalGroup {
  const Sample* const* rows;  // the source rows any of them reads, in order
  size_t rowCount;
  int outputs;  // 1 .. maxGroupRows
  // Output g is the chain over rows[first[g] .. first[g] + taps[g]) with
  // weights[g] (singles, held as doubles: the kernels' own width).
  uint32_t first[maxGroupRows], taps[maxGroupRows];
  const double* weights[maxGroupRows];
  float* out[maxGroupRows];
};

// out[g][k] := the chain acc := single (p x w + acc) from acc = 0 over the
// output's taps in order, p the tap's sample k times `scale` as a single.
template <typename Sample>
using VerticalKernel = void (*)(const VerticalGroup<Sample>& group, size_t n, float scale);

template <typename Sample>
VerticalKernel<Sample> verticalKernel(KernelSet set);

bool haveAvx512();
bool haveAvx2();

}  // namespace torvel
