#include "resize/resample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>
#include <thread>

#include "resize/kernels.h"

namespace {

std::atomic<TResamplePath> g_path{TResamplePath::Parallel};

// single (v): the value rounded to single precision at that point.
inline float Single(long double v) { return static_cast<float>(v); }

}  // namespace

void SetResamplePath(TResamplePath Path) { g_path = Path; }

float Sinc(float x) {
  if (x == 0.0f) return 1.0f;
  const float p = Single(std::numbers::pi_v<long double> * x);
  return Single(std::sin(static_cast<long double>(p)) / p);
}

float LanczosFilter(float x) {
  x = std::fabs(x);
  if (x >= 3.0f) return 0.0f;
  const float a = Sinc(x);
  const float b = Single(static_cast<long double>(x) / 3.0L);
  return Single(static_cast<long double>(Sinc(b)) * a);
}

TMappingTable BuildContributors(int32_t DstSize, int32_t SrcSize, TFilterFunction Filter, float Radius) {
  TMappingTable table;
  if (SrcSize == 1) {
    table.assign(static_cast<size_t>(std::max(DstSize, 0)), TCluster{{0, 1.0f}});
    return table;
  }
  if (SrcSize <= 0 || DstSize <= 0) return table;
  table.resize(static_cast<size_t>(DstSize));
  const float scale = Single(static_cast<long double>(DstSize) / SrcSize);
  const auto clampPos = [SrcSize](int64_t j) {
    return static_cast<int32_t>(j < 0 ? 0 : j > SrcSize - 1 ? SrcSize - 1 : j);
  };
  // Moves the excess of the weights' sum onto the middle contribution.
  const auto correct = [](TCluster& c, float correction) {
    if (correction != 0.0f) {
      TPointRec& mid = c[(c.size() - 1) / 2];
      mid.Weight = Single(static_cast<long double>(mid.Weight) - correction);
    }
  };
  if (scale < 1.0f) {
    const float support = Single(static_cast<long double>(Radius) / scale);
    for (int32_t i = 0; i < DstSize; ++i) {
      TCluster& c = table[static_cast<size_t>(i)];
      const float center = Single(-0.5L + (static_cast<long double>(i) + 0.5L) / scale);
      const int64_t left = static_cast<int64_t>(std::floor(Single(static_cast<long double>(center) - support)));
      const int64_t right = static_cast<int64_t>(std::ceil(Single(static_cast<long double>(center) + support)));
      float correction = -1.0f;
      for (int64_t j = left; j <= right; ++j) {
        const float x = Single((static_cast<long double>(center) - j) * scale);
        const float w = Single(static_cast<long double>(Filter(x)) * scale);
        if (w != 0.0f) {
          correction = Single(static_cast<long double>(correction) + w);
          c.push_back({clampPos(j), w});
        }
      }
      if (c.empty())
        c.push_back({static_cast<int32_t>(std::floor(center)), 1.0f});
      else
        correct(c, correction);
    }
  } else {
    const float step = Single(1.0L / scale);
    for (int32_t i = 0; i < DstSize; ++i) {
      TCluster& c = table[static_cast<size_t>(i)];
      const float center = Single(-0.5L + (static_cast<long double>(i) + 0.5L) * step);
      const int64_t left = static_cast<int64_t>(std::floor(Single(static_cast<long double>(center) - Radius)));
      const int64_t right = static_cast<int64_t>(std::ceil(Single(static_cast<long double>(center) + Radius)));
      float correction = -1.0f;
      for (int64_t j = left; j <= right; ++j) {
        const float w = Filter(Single(static_cast<long double>(center) - j));
        if (w != 0.0f) {
          correction = Single(static_cast<long double>(correction) + w);
          c.push_back({clampPos(j), w});
        }
      }
      if (!c.empty()) correct(c, correction);
    }
  }
  return table;
}

void SampleNearest(const TImageData& Src, TImageData& Dst) {
  const int bpp = GetFormatInfo(Src.Format)->BytesPerPixel;
  // 64-bit steps: sides of 32768 pixels and more do not overflow.
  const int64_t xStep = int64_t{Src.Width} * 65536 / Dst.Width;
  const int64_t yStep = int64_t{Src.Height} * 65536 / Dst.Height;
  const size_t srcRow = size_t(Src.Width) * bpp, dstRow = size_t(Dst.Width) * bpp;
  int64_t yPos = 0;
  for (int32_t j = 0; j < Dst.Height; ++j, yPos += yStep) {
    const uint8_t* s = Src.Bits + size_t(yPos >> 16) * srcRow;
    uint8_t* d = Dst.Bits + size_t(j) * dstRow;
    int64_t xPos = 0;
    for (int32_t i = 0; i < Dst.Width; ++i, xPos += xStep) std::memcpy(d + size_t(i) * bpp, s + size_t(xPos >> 16) * bpp, bpp);
  }
}

namespace {

// The range of source columns any cluster of MapX reaches.
void PosRange(const TMappingTable& map, int32_t& lo, int32_t& hi) {
  lo = INT32_MAX;
  hi = INT32_MIN;
  for (const TCluster& c : map)
    for (const TPointRec& p : c) {
      lo = std::min(lo, p.Pos);
      hi = std::max(hi, p.Pos);
    }
}

// The tables of a filtered scaling and the source columns they reach; false
// when a table is empty and the destination stays as it is.
struct TFilterTables {
  TMappingTable MapX, MapY;
  int32_t XMin = 0, XMax = -1;
  TFilterTables(const TImageData& Src, const TImageData& Dst, TFilterFunction Filter, float Radius)
      : MapX(BuildContributors(Dst.Width, Src.Width, Filter, Radius)),
        MapY(BuildContributors(Dst.Height, Src.Height, Filter, Radius)) {
    if (Usable()) PosRange(MapX, XMin, XMax);
  }
  bool Usable() const { return !MapX.empty() && !MapY.empty(); }
};

}  // namespace

void SampleFiltered(const TImageData& Src, TImageData& Dst, TFilterFunction Filter, float Radius) {
  const TImageFormatInfo* info = GetFormatInfo(Src.Format);
  const TFilterTables tables(Src, Dst, Filter, Radius);
  if (!tables.Usable()) return;
  const TMappingTable &mapX = tables.MapX, &mapY = tables.MapY;
  const int32_t xMin = tables.XMin, xMax = tables.XMax;
  std::vector<TColorFPRec> line(size_t(xMax - xMin + 1));
  const int bpp = info->BytesPerPixel;
  const auto mac = [](float p, float w, float acc) { return Single(static_cast<long double>(p) * w + acc); };
  for (int32_t j = 0; j < Dst.Height; ++j) {
    for (int32_t x = xMin; x <= xMax; ++x) {
      TColorFPRec acc{0, 0, 0, 0};
      for (const TPointRec& c : mapY[size_t(j)]) {
        const TColorFPRec p = info->GetPixelFP(Src.Bits + (size_t(c.Pos) * Src.Width + x) * bpp);
        acc.B = mac(p.B, c.Weight, acc.B);
        acc.G = mac(p.G, c.Weight, acc.G);
        acc.R = mac(p.R, c.Weight, acc.R);
        acc.A = mac(p.A, c.Weight, acc.A);
      }
      line[size_t(x - xMin)] = acc;
    }
    for (int32_t i = 0; i < Dst.Width; ++i) {
      TColorFPRec acc{0, 0, 0, 0};
      for (const TPointRec& c : mapX[size_t(i)]) {
        const TColorFPRec& p = line[size_t(c.Pos - xMin)];
        acc.B = mac(p.B, c.Weight, acc.B);
        acc.G = mac(p.G, c.Weight, acc.G);
        acc.R = mac(p.R, c.Weight, acc.R);
        acc.A = mac(p.A, c.Weight, acc.A);
      }
      info->SetPixelFP(Dst.Bits + (size_t(j) * Dst.Width + i) * bpp, acc);
    }
  }
}

namespace {

std::atomic<bool> g_allowVector{true};

// Destination rows taken one at a time from `nextRow`. The loop order differs
// from the plain path (contributions outside, columns inside, so source rows
// are read contiguously) but every value sees the same operations in the same
// order; the alpha value nobody reads is not computed.
template <typename Sample>
void FilterRows(const TImageData& Src, TImageData& Dst, const TMappingTable& mapX, const TMappingTable& mapY,
                int32_t xMin, int32_t xMax, const TImageFormatInfo* info, std::atomic<int32_t>& nextRow) {
  const size_t cols = size_t(xMax - xMin + 1);
  std::vector<float> line(cols * 3 + 1);  // + 1: the four-lane loads of the last pixel
  const Sample* src = reinterpret_cast<const Sample*>(Src.Bits);
  Sample* dst = reinterpret_cast<Sample*>(Dst.Bits);
  const size_t srcStride = size_t(Src.Width) * 3;
  const int sampleMax = info->SampleMax;
  const float scale = info->SampleScale;
  const TFilterKernels<Sample> kernels = SelectFilterKernels<Sample>(g_allowVector);
  for (int32_t j; (j = nextRow.fetch_add(1)) < Dst.Height;) {
    std::fill(line.begin(), line.end(), 0.0f);
    for (const TPointRec& c : mapY[size_t(j)])
      kernels.Vertical(line.data(), src + size_t(c.Pos) * srcStride + size_t(xMin) * 3, cols * 3, c.Weight, scale);
    kernels.Horizontal(line.data(), mapX, xMin, dst + size_t(j) * Dst.Width * 3, sampleMax);
  }
}

}  // namespace

void SetResampleVectorsForTests(bool Allow) { g_allowVector = Allow; }

void SampleFilteredParallel(const TImageData& Src, TImageData& Dst, TFilterFunction Filter, float Radius,
                            unsigned Threads) {
  const TImageFormatInfo* info = GetFormatInfo(Src.Format);
  const TFilterTables tables(Src, Dst, Filter, Radius);
  if (!tables.Usable()) return;
  const TMappingTable &mapX = tables.MapX, &mapY = tables.MapY;
  const int32_t xMin = tables.XMin, xMax = tables.XMax;
  if (Threads == 0) Threads = std::max(1u, std::thread::hardware_concurrency());
  Threads = std::min<unsigned>(Threads, static_cast<unsigned>(Dst.Height));
  std::atomic<int32_t> nextRow{0};
  auto work = [&] {
    if (info->BytesPerPixel == 3)
      FilterRows<uint8_t>(Src, Dst, mapX, mapY, xMin, xMax, info, nextRow);
    else
      FilterRows<uint16_t>(Src, Dst, mapX, mapY, xMin, xMax, info, nextRow);
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < Threads; ++t) pool.emplace_back(work);
  work();
  for (auto& t : pool) t.join();
}

bool ScaleImage(TImageData& Image, int32_t NewWidth, int32_t NewHeight, TResizeFilter Filter) {
  if (NewWidth <= 0 || NewHeight <= 0) throw EImagingError("New width or height is zero.");
  if (!IsImageValid(Image) || (NewWidth == Image.Width && NewHeight == Image.Height)) return false;
  TImageData work;
  try {
    AllocImage(NewWidth, NewHeight, Image.Format, work);
    switch (Filter) {
      case rfNearest:
        SampleNearest(Image, work);
        break;
      case rfLanczos:
        if (g_path == TResamplePath::Reference)
          SampleFiltered(Image, work, LanczosFilter, LanczosRadius);
        else
          SampleFilteredParallel(Image, work, LanczosFilter, LanczosRadius);
        break;
      default:
        throw EImagingError("Unsupported resize filter");
    }
  } catch (const std::exception& e) {
    ReleaseImage(work);
    throw EImagingError("Error while resizing image.  " + ImageToStr(Image) + " " + e.what());
  } catch (...) {
    ReleaseImage(work);
    throw EImagingError("Error while resizing image.  " + ImageToStr(Image));
  }
  ReleaseImage(Image);
  Image = work;
  return true;
}
