// Image resampling: nearest-neighbour picking in fixed point, and separable
// Lanczos-3 filtering with contributor tables in single precision whose
// intermediate products and sums are formed in extended precision.
#pragma once

#include <cstdint>
#include <vector>

#include "resize/image.h"

enum TResizeFilter { rfNearest, rfBilinear, rfBicubic, rfLanczos };

struct TPointRec {
  int32_t Pos;
  float Weight;
};
using TCluster = std::vector<TPointRec>;
using TMappingTable = std::vector<TCluster>;
using TFilterFunction = float (*)(float);

float Sinc(float x);
float LanczosFilter(float x);
constexpr float LanczosRadius = 3.0f;

TMappingTable BuildContributors(int32_t DstSize, int32_t SrcSize, TFilterFunction Filter, float Radius);
void SampleNearest(const TImageData& Src, TImageData& Dst);
// The plain single-threaded filter, exactly as the arithmetic is written.
void SampleFiltered(const TImageData& Src, TImageData& Dst, TFilterFunction Filter, float Radius);
// The same bytes, with the destination rows spread over all cores.
void SampleFilteredParallel(const TImageData& Src, TImageData& Dst, TFilterFunction Filter, float Radius,
                            unsigned Threads = 0);

// Which filtered path ScaleImage takes; the parallel one unless a test or a
// benchmark asks for the reference.
enum class TResamplePath { Parallel, Reference };
void SetResamplePath(TResamplePath Path);

// Tests: false keeps the parallel path on its scalar kernels.
void SetResampleVectorsForTests(bool Allow);

bool ScaleImage(TImageData& Image, int32_t NewWidth, int32_t NewHeight, TResizeFilter Filter);
