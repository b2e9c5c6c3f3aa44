// Pixel span conversion: the only place pixel values are touched on the way
// from an input line to an output line. It adds or drops the alpha channel,
// keeps one channel for a gray output (of a gray input read as RGB), and
// swaps the bytes of 16-bit samples when the two lines store them in
// different orders; bits per sample are never converted. The converter is
// chosen once, when the pair of layouts is known.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/image.h"

namespace torvel {

class SpanConverter {
 public:
  SpanConverter(const PixelLayout& from, const PixelLayout& to);
  // Pixels inStart .. inStart + count - 1 of `in` become pixels outStart ..
  // of `out`. A pair of layouts without a converter (bits other than 8 or 16,
  // input channels other than 3 or 4, output channels other than 1 to 4)
  // writes nothing.
  void operator()(const uint8_t* in, size_t inStart, uint8_t* out, size_t outStart, size_t count) const {
    if (convert_ && count > 0) convert_(in + inStart * inPixel_, out + outStart * outPixel_, count);
  }
  bool valid() const { return convert_ != nullptr; }
  // True when the two layouts are the same: spans are copied as they are.
  bool copies() const;

  using Function = void (*)(const uint8_t* in, uint8_t* out, size_t count);

 private:
  Function convert_ = nullptr;
  size_t inPixel_ = 0, outPixel_ = 0;
};

}  // namespace torvel
