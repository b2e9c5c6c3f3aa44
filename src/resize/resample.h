// Resampling of pixel blocks: nearest-neighbour picking in fixed point, and
// separable Lanczos-3 filtering with contributor tables in single precision
// whose intermediate products and sums are formed in extended precision.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <vector>

#include "resize/pixelblock.h"

namespace torvel {

enum class ResizeFilter { Nearest, Lanczos };

// One source pixel's part in an output pixel.
struct Contribution {
  int32_t pos;
  float weight;
};
// All contributions to one output index, in increasing source order.
using Cluster = std::vector<Contribution>;
// One cluster per output index along one axis.
using ContributorTable = std::vector<Cluster>;
using KernelFunction = float (*)(float);

float sinc(float x);
float lanczos(float x);
inline constexpr float lanczosRadius = 3.0f;

ContributorTable buildContributors(int32_t dstSize, int32_t srcSize, KernelFunction kernel, float radius);

// Which vector kernels the parallel path takes: the widest this processor
// runs, or one set (tests and benchmarks hold each to the others).
enum class KernelSet { Widest, Avx2, Scalar };

// Which arithmetic path a filtered scaling takes; the bytes are the same.
// The parallel path also stops between rows once `cancel` is requested, and
// reports the rows done through `progress` from the calling thread.
struct ResampleOptions {
  bool reference = false;     // the plain single-threaded loops, exactly as written
  KernelSet kernels = KernelSet::Widest;  // the parallel path's kernels
  unsigned threads = 0;       // 0: every core
  std::stop_token cancel;
  std::function<void(int64_t rowsDone)> progress;
};

void sampleNearest(const PixelBlock& src, PixelBlock& dst);
void sampleFiltered(const PixelBlock& src, PixelBlock& dst, KernelFunction kernel, float radius);
// The same bytes, the destination rows spread over the threads; false when
// cancelled before every row was made. A failure of any thread is thrown on
// the calling one.
bool sampleFilteredParallel(const PixelBlock& src, PixelBlock& dst, KernelFunction kernel, float radius,
                            const ResampleOptions& options = {});

// Fills `dst` (sized to the new size, of src's format) with src scaled to
// it; false when cancelled; throws ImagingError on failure.
bool scaleInto(const PixelBlock& src, PixelBlock& dst, ResizeFilter filter, const ResampleOptions& options = {});

// One Lanczos scaling of `src` to width × height made a band of rows at a
// time: rows firstRow .. firstRow + band.height() - 1 (band as wide as the
// scaling) get the bytes those rows of scaleInto would get. `src` must
// outlive it. Throws ImagingError on failure; scaleRows is false when cancelled.
class BandScaler {
 public:
  BandScaler(const PixelBlock& src, int32_t width, int32_t height);
  ~BandScaler();
  bool scaleRows(int32_t firstRow, PixelBlock& band, const ResampleOptions& options = {}) const;

 private:
  struct Tables;
  const PixelBlock& src_;
  int32_t height_;
  std::unique_ptr<Tables> tables_;
};

// Replaces the block by a copy scaled to the new size. False when nothing was
// done (an empty block, or the size it has); throws ImagingError on failure.
bool scaleBlock(PixelBlock& block, int32_t newWidth, int32_t newHeight, ResizeFilter filter,
                const ResampleOptions& options = {});

}  // namespace torvel
