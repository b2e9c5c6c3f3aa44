// Pixel span conversion over a 100000-pixel line, for each converter.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/torvel.h"

namespace {

void Span(benchmark::State& state, int bits, int inCh, int outCh, bool inLsb, bool outLsb) {
  const uint32_t n = 100000;
  std::vector<uint8_t> in(size_t(n) * inCh * bits / 8, 7), out(size_t(n) * outCh * bits / 8);
  TFileInfo i, o;
  i.Bits = o.Bits = static_cast<uint8_t>(bits);
  i.Channels = static_cast<uint8_t>(inCh);
  o.Channels = static_cast<uint8_t>(outCh);
  i.IsLsb = inLsb;
  o.IsLsb = outLsb;
  i.ScanLine = in.data();
  o.ScanLine = out.data();
  TTorvel S;
  for (auto _ : state) {
    ConvertSpan(S, i, 0, o, 0, n);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
}

}  // namespace

BENCHMARK_CAPTURE(Span, CopyRgb8, 8, 3, 3, true, true);
BENCHMARK_CAPTURE(Span, Rgb8ToRgba8, 8, 3, 4, true, false);
BENCHMARK_CAPTURE(Span, Rgba8ToRgb8, 8, 4, 3, false, true);
BENCHMARK_CAPTURE(Span, CopyRgba8, 8, 4, 4, false, false);
BENCHMARK_CAPTURE(Span, CopyRgb16, 16, 3, 3, true, true);
BENCHMARK_CAPTURE(Span, Rgb16ToRgba16, 16, 3, 4, true, true);
BENCHMARK_CAPTURE(Span, Rgba16ToRgb16, 16, 4, 3, false, false);
BENCHMARK_CAPTURE(Span, CopyRgba16, 16, 4, 4, false, false);
BENCHMARK_CAPTURE(Span, SwapRgb16, 16, 3, 3, true, false);
BENCHMARK_CAPTURE(Span, SwapRgb16ToRgba16, 16, 3, 4, true, false);
BENCHMARK_CAPTURE(Span, SwapRgba16ToRgb16, 16, 4, 3, false, true);
BENCHMARK_CAPTURE(Span, SwapRgba16, 16, 4, 4, true, false);
