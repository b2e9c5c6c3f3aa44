// Pixel span conversion over a 100000-pixel line, for each converter.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/spans.h"

namespace {

void span(benchmark::State& state, int bits, int inChannels, int outChannels, bool inLittle, bool outLittle) {
  const uint32_t n = 100000;
  std::vector<uint8_t> in(size_t(n) * inChannels * bits / 8, 7), out(size_t(n) * outChannels * bits / 8);
  const torvel::SpanConverter convert({bits, inChannels, inLittle}, {bits, outChannels, outLittle});
  for (auto _ : state) {
    convert(in.data(), 0, out.data(), 0, n);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
}

}  // namespace

BENCHMARK_CAPTURE(span, CopyRgb8, 8, 3, 3, true, true);
BENCHMARK_CAPTURE(span, Rgb8ToRgba8, 8, 3, 4, true, false);
BENCHMARK_CAPTURE(span, Rgba8ToRgb8, 8, 4, 3, false, true);
BENCHMARK_CAPTURE(span, CopyRgba8, 8, 4, 4, false, false);
BENCHMARK_CAPTURE(span, CopyRgb16, 16, 3, 3, true, true);
BENCHMARK_CAPTURE(span, Rgb16ToRgba16, 16, 3, 4, true, true);
BENCHMARK_CAPTURE(span, Rgba16ToRgb16, 16, 4, 3, false, false);
BENCHMARK_CAPTURE(span, CopyRgba16, 16, 4, 4, false, false);
BENCHMARK_CAPTURE(span, SwapRgb16, 16, 3, 3, true, false);
BENCHMARK_CAPTURE(span, SwapRgb16ToRgba16, 16, 3, 4, true, false);
BENCHMARK_CAPTURE(span, SwapRgba16ToRgb16, 16, 4, 3, false, true);
BENCHMARK_CAPTURE(span, SwapRgba16, 16, 4, 4, true, false);
