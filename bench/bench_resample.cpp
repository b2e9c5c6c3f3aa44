// Lanczos scaling of one pass tile (10000 x 10000 8-bit RGB to a quarter and
// a tenth of its side), on one thread and on every core; also nearest picking.
#include <benchmark/benchmark.h>

#include <cstring>

#include "resize/resample.h"

namespace {

torvel::PixelBlock tile(int32_t side) {
  torvel::PixelBlock b = torvel::PixelBlock::forOverwrite(side, side, torvel::PixelFormat::Rgb8);
  uint32_t x = 12345;
  for (int32_t y = 0; y < side; ++y) {
    uint8_t* row = b.row(y);
    for (int64_t i = 0; i < b.rowBytes(); ++i) row[i] = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 24);
  }
  return b;
}

void lanczos(benchmark::State& state) {
  const int32_t side = static_cast<int32_t>(state.range(0));
  const torvel::PixelBlock src = tile(side);
  const int32_t to = side / static_cast<int32_t>(state.range(2));
  torvel::PixelBlock dst = torvel::PixelBlock::forOverwrite(to, to, src.format());
  const torvel::ResampleOptions options{false, torvel::KernelSet::Widest, static_cast<unsigned>(state.range(1))};
  for (auto _ : state) {
    torvel::scaleInto(src, dst, torvel::ResizeFilter::Lanczos, options);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * side * side);
}

void nearestQuarter(benchmark::State& state) {
  const torvel::PixelBlock src = tile(10000);
  torvel::PixelBlock dst = torvel::PixelBlock::forOverwrite(2500, 2500, src.format());
  for (auto _ : state) {
    torvel::scaleInto(src, dst, torvel::ResizeFilter::Nearest);
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(lanczos)
    ->ArgNames({"side", "threads", "divisor"})
    ->ArgsProduct({{10000}, {1, 0}, {4, 10}})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(nearestQuarter)->Unit(benchmark::kMillisecond);
