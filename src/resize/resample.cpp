#include "resize/resample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <numbers>
#include <thread>

#include "resize/kernels.h"

namespace torvel {

namespace {

// single (v): the value rounded to single precision at that point.
inline float single(long double v) { return static_cast<float>(v); }

}  // namespace

float sinc(float x) {
  if (x == 0.0f) return 1.0f;
  const float p = single(std::numbers::pi_v<long double> * x);
  return single(std::sin(static_cast<long double>(p)) / p);
}

float lanczos(float x) {
  x = std::fabs(x);
  if (x >= 3.0f) return 0.0f;
  const float a = sinc(x);
  const float b = single(static_cast<long double>(x) / 3.0L);
  return single(static_cast<long double>(sinc(b)) * a);
}

namespace {

// Moves the excess of the weights' sum onto the middle contribution.
void correct(Cluster& c, float correction) {
  if (correction == 0.0f) return;
  Contribution& mid = c[(c.size() - 1) / 2];
  mid.weight = single(static_cast<long double>(mid.weight) - correction);
}

// The contributions of source indices left..right around `center`. When
// shrinking, the kernel is stretched by 1 / scale and its values scaled by it.
void gather(Cluster& c, float center, int64_t left, int64_t right, float scale, KernelFunction kernel,
            int32_t srcSize) {
  const bool shrinking = scale < 1.0f;
  float correction = -1.0f;
  for (int64_t j = left; j <= right; ++j) {
    const float x = shrinking ? single((static_cast<long double>(center) - j) * scale)
                              : single(static_cast<long double>(center) - j);
    const float w = shrinking ? single(static_cast<long double>(kernel(x)) * scale) : kernel(x);
    if (w != 0.0f) {
      correction = single(static_cast<long double>(correction) + w);
      c.push_back({static_cast<int32_t>(std::clamp<int64_t>(j, 0, srcSize - 1)), w});
    }
  }
  if (!c.empty()) correct(c, correction);
}

}  // namespace

ContributorTable buildContributors(int32_t dstSize, int32_t srcSize, KernelFunction kernel, float radius) {
  ContributorTable table;
  if (srcSize == 1) {
    table.assign(static_cast<size_t>(std::max(dstSize, 0)), Cluster{{0, 1.0f}});
    return table;
  }
  if (srcSize <= 0 || dstSize <= 0) return table;
  table.resize(static_cast<size_t>(dstSize));
  const float scale = single(static_cast<long double>(dstSize) / srcSize);
  const bool shrinking = scale < 1.0f;
  // Shrinking stretches the kernel by 1 / scale and scales its values by scale.
  const float support = shrinking ? single(static_cast<long double>(radius) / scale) : radius;
  const float step = single(1.0L / scale);
  for (int32_t i = 0; i < dstSize; ++i) {
    Cluster& c = table[static_cast<size_t>(i)];
    const float center = shrinking ? single(-0.5L + (static_cast<long double>(i) + 0.5L) / scale)
                                   : single(-0.5L + (static_cast<long double>(i) + 0.5L) * step);
    const int64_t left = static_cast<int64_t>(std::floor(single(static_cast<long double>(center) - support)));
    const int64_t right = static_cast<int64_t>(std::ceil(single(static_cast<long double>(center) + support)));
    gather(c, center, left, right, scale, kernel, srcSize);
    if (c.empty() && shrinking) c.push_back({static_cast<int32_t>(std::floor(center)), 1.0f});
  }
  return table;
}

void sampleNearest(const PixelBlock& src, PixelBlock& dst) {
  const int bpp = formatInfo(src.format()).bytesPerPixel;
  // 64-bit steps: sides of 32768 pixels and more do not overflow.
  const int64_t xStep = int64_t{src.width()} * 65536 / dst.width();
  const int64_t yStep = int64_t{src.height()} * 65536 / dst.height();
  int64_t yPos = 0;
  for (int32_t j = 0; j < dst.height(); ++j, yPos += yStep) {
    const uint8_t* s = src.row(static_cast<int32_t>(yPos >> 16));
    uint8_t* d = dst.row(j);
    int64_t xPos = 0;
    for (int32_t i = 0; i < dst.width(); ++i, xPos += xStep)
      std::memcpy(d + size_t(i) * bpp, s + size_t(xPos >> 16) * bpp, bpp);
  }
}

namespace {

// The range of source columns any cluster of the table reaches.
void posRange(const ContributorTable& map, int32_t& lo, int32_t& hi) {
  lo = INT32_MAX;
  hi = INT32_MIN;
  for (const Cluster& c : map)
    for (const Contribution& p : c) {
      lo = std::min(lo, p.pos);
      hi = std::max(hi, p.pos);
    }
}

// The tables of a filtered scaling and the source columns they reach.
struct FilterTables {
  ContributorTable mapX, mapY;
  int32_t xMin = 0, xMax = -1;
  FilterTables(const PixelBlock& src, int32_t width, int32_t height, KernelFunction kernel, float radius)
      : mapX(buildContributors(width, src.width(), kernel, radius)),
        mapY(buildContributors(height, src.height(), kernel, radius)) {
    if (usable()) posRange(mapX, xMin, xMax);
  }
  bool usable() const { return !mapX.empty() && !mapY.empty(); }
};

inline float mac(float p, float w, float acc) { return single(static_cast<long double>(p) * w + acc); }

inline void macColor(ColorF& acc, const ColorF& p, float w) {
  acc.r = mac(p.r, w, acc.r);
  acc.g = mac(p.g, w, acc.g);
  acc.b = mac(p.b, w, acc.b);
  acc.a = mac(p.a, w, acc.a);
}

}  // namespace

// The vertical pass comes first and is computed again for every destination
// row: no filtered source row is kept from one destination row to the next.
void sampleFiltered(const PixelBlock& src, PixelBlock& dst, KernelFunction kernel, float radius) {
  const PixelFormatInfo& info = formatInfo(src.format());
  const FilterTables tables(src, dst.width(), dst.height(), kernel, radius);
  if (!tables.usable()) return;
  std::vector<ColorF> line(size_t(tables.xMax - tables.xMin + 1));
  const int bpp = info.bytesPerPixel;
  for (int32_t j = 0; j < dst.height(); ++j) {
    for (int32_t x = tables.xMin; x <= tables.xMax; ++x) {
      ColorF acc{0, 0, 0, 0};
      for (const Contribution& c : tables.mapY[size_t(j)]) macColor(acc, info.getPixel(src.row(c.pos) + x * bpp), c.weight);
      line[size_t(x - tables.xMin)] = acc;
    }
    for (int32_t i = 0; i < dst.width(); ++i) {
      ColorF acc{0, 0, 0, 0};
      for (const Contribution& c : tables.mapX[size_t(i)]) macColor(acc, line[size_t(c.pos - tables.xMin)], c.weight);
      info.setPixel(dst.row(j) + i * bpp, acc);
    }
  }
}

namespace {

// The rows shared out among the threads of one scaling.
struct RowQueue {
  std::atomic<int32_t> next{0}, done{0};
  int32_t count;
  int32_t firstRow;  // of the whole scaling, at the destination block's row 0
  const ResampleOptions& options;
};

bool consecutive(const Cluster& c) {
  for (size_t t = 1; t < c.size(); ++t)
    if (c[t].pos != c[0].pos + static_cast<int32_t>(t)) return false;
  return true;
}

// The vertical work of destination rows j .. j + count - 1 (count at most
// maxGroupRows): one group when each reads a run of consecutive source rows
// (the inside of the image), else row j alone (an edge, where the source rows
// repeat). Returns the rows the group makes.
template <typename Sample>
struct GroupMaker {
  const PixelBlock& src;
  const FilterTables& tables;
  std::vector<const Sample*> rows;
  std::vector<double> weights[maxGroupRows];

  const Sample* sourceRow(int32_t y) const {
    return reinterpret_cast<const Sample*>(src.row(y)) + size_t(tables.xMin) * 3;
  }

  int make(int32_t j, int32_t count, VerticalGroup<Sample>& v) {
    const Cluster* c[maxGroupRows];
    bool together = count > 1;
    for (int32_t g = 0; g < count; ++g) {
      c[g] = &tables.mapY[size_t(j + g)];
      together = together && consecutive(*c[g]) && (g == 0 || (*c[g])[0].pos >= (*c[g - 1])[0].pos);
    }
    v.outputs = together ? count : 1;
    rows.clear();
    const int32_t low = (*c[0])[0].pos;
    int32_t high = low;
    for (int g = 0; g < v.outputs; ++g) {
      weights[g].clear();
      for (const Contribution& k : *c[g]) weights[g].push_back(k.weight);
      v.weights[g] = weights[g].data();
      v.taps[g] = static_cast<uint32_t>(c[g]->size());
      v.first[g] = together ? static_cast<uint32_t>((*c[g])[0].pos - low) : 0;
      high = std::max(high, (*c[g])[0].pos + static_cast<int32_t>(c[g]->size()));
    }
    if (together)
      for (int32_t y = low; y < high; ++y) rows.push_back(sourceRow(y));
    else
      for (const Contribution& k : *c[0]) rows.push_back(sourceRow(k.pos));
    v.rows = rows.data();
    v.rowCount = rows.size();
    return v.outputs;
  }
};

// Destination rows taken a few at a time from the queue. The loop order
// differs from the plain path (columns of several destination rows at once,
// so source rows are read contiguously and converted once) but every value
// sees the same operations in the same order; the alpha value nobody reads
// is not computed.
template <typename Sample>
void filterRows(const PixelBlock& src, PixelBlock& dst, const FilterTables& tables, RowQueue& rows, bool reports) {
  const PixelFormatInfo& info = formatInfo(src.format());
  const size_t cols = size_t(tables.xMax - tables.xMin + 1);
  // + 1: the four-lane loads of the last pixel
  std::vector<std::vector<float>> lines(maxGroupRows, std::vector<float>(cols * 3 + 1));
  const FilterKernels<Sample> kernels = selectFilterKernels<Sample>(rows.options.kernels);
  GroupMaker<Sample> groups{src, tables, {}, {}};
  VerticalGroup<Sample> v{};
  for (int g = 0; g < maxGroupRows; ++g) v.out[g] = lines[size_t(g)].data();
  for (int32_t j0; (j0 = rows.next.fetch_add(maxGroupRows)) < rows.count && !rows.options.cancel.stop_requested();) {
    const int32_t end = std::min(j0 + maxGroupRows, rows.count);
    for (int32_t j = j0; j < end;) {
      const int made = groups.make(rows.firstRow + j, end - j, v);
      kernels.vertical(v, cols * 3, info.sampleScale);
      for (int g = 0; g < made; ++g, ++j) {
        kernels.horizontal(lines[size_t(g)].data(), tables.mapX, tables.xMin, reinterpret_cast<Sample*>(dst.row(j)),
                           info.sampleMax);
        const int32_t done = ++rows.done;
        if (reports && rows.options.progress) rows.options.progress(done);
      }
    }
  }
}

}  // namespace

namespace {

// Rows firstRow .. firstRow + dst.height() - 1 of a filtered scaling into dst.
bool filterRowsParallel(const PixelBlock& src, PixelBlock& dst, const FilterTables& tables, int32_t firstRow,
                        const ResampleOptions& options) {
  unsigned threads = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
  threads = std::min<unsigned>(threads, static_cast<unsigned>(dst.height()));
  RowQueue rows{{0}, {0}, dst.height(), firstRow, options};
  std::mutex failureMutex;
  std::exception_ptr failure;
  // A thread's failure stops the others and is thrown on the calling thread.
  auto work = [&](bool reports) {
    try {
      if (src.format() == PixelFormat::Rgb8)
        filterRows<uint8_t>(src, dst, tables, rows, reports);
      else
        filterRows<uint16_t>(src, dst, tables, rows, reports);
    } catch (...) {
      std::lock_guard<std::mutex> lock(failureMutex);
      if (!failure) failure = std::current_exception();
      rows.next = rows.count;
    }
  };
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, false);
  work(true);
  for (auto& t : pool) t.join();
  if (failure) std::rethrow_exception(failure);
  return rows.done == rows.count;
}

}  // namespace

bool sampleFilteredParallel(const PixelBlock& src, PixelBlock& dst, KernelFunction kernel, float radius,
                            const ResampleOptions& options) {
  const FilterTables tables(src, dst.width(), dst.height(), kernel, radius);
  if (!tables.usable()) return true;
  return filterRowsParallel(src, dst, tables, 0, options);
}

struct BandScaler::Tables : FilterTables {
  using FilterTables::FilterTables;
};

BandScaler::BandScaler(const PixelBlock& src, int32_t width, int32_t height) : src_(src), height_(height) {
  if (width <= 0 || height <= 0) throw ImagingError("New width or height is zero.");
  try {
    tables_ = std::make_unique<Tables>(src, width, height, lanczos, lanczosRadius);
  } catch (const std::bad_alloc&) {
    throw ImagingError("Error while resizing image.  " + src.describe() +
                       " Not enough memory for the filter tables of a scaling to " + std::to_string(width) + " × " +
                       std::to_string(height) + " pixels");
  }
}

BandScaler::~BandScaler() = default;

bool BandScaler::scaleRows(int32_t firstRow, PixelBlock& band, const ResampleOptions& options) const {
  if (firstRow < 0 || firstRow + band.height() > height_ || band.width() != static_cast<int32_t>(tables_->mapX.size()))
    throw ImagingError("Error while resizing image.  A band of rows outside the scaled image");
  if (!tables_->usable()) return true;
  try {
    return filterRowsParallel(src_, band, *tables_, firstRow, options);
  } catch (const std::exception& e) {
    throw ImagingError("Error while resizing image.  " + src_.describe() + " " + e.what());
  }
}

bool scaleInto(const PixelBlock& src, PixelBlock& dst, ResizeFilter filter, const ResampleOptions& options) {
  try {
    if (filter == ResizeFilter::Nearest)
      sampleNearest(src, dst);
    else if (options.reference)
      sampleFiltered(src, dst, lanczos, lanczosRadius);
    else
      return sampleFilteredParallel(src, dst, lanczos, lanczosRadius, options);
  } catch (const std::bad_alloc&) {
    throw ImagingError("Error while resizing image.  " + src.describe() +
                       " Not enough memory for the filter tables of a scaling to " + std::to_string(dst.width()) +
                       " × " + std::to_string(dst.height()) + " pixels");
  } catch (const std::exception& e) {
    throw ImagingError("Error while resizing image.  " + src.describe() + " " + e.what());
  }
  return true;
}

bool scaleBlock(PixelBlock& block, int32_t newWidth, int32_t newHeight, ResizeFilter filter,
                const ResampleOptions& options) {
  if (newWidth <= 0 || newHeight <= 0) throw ImagingError("New width or height is zero.");
  if (block.empty() || (newWidth == block.width() && newHeight == block.height())) return false;
  PixelBlock scaled;
  try {
    // Every pixel is written: no need for cleared memory.
    scaled = PixelBlock::forOverwrite(newWidth, newHeight, block.format());
  } catch (const std::exception& e) {
    throw ImagingError("Error while resizing image.  " + block.describe() + " " + e.what());
  }
  scaleInto(block, scaled, filter, options);
  block = std::move(scaled);
  return true;
}

}  // namespace torvel
