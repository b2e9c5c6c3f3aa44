#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/spans.h"

using namespace torvel;

namespace {

struct ConverterCase {
  const char* name;
  int bits, inChannels, outChannels;
  bool inLittle, outLittle;
};

// The expected bytes of one output pixel made from input pixel bytes `in`.
std::vector<uint8_t> expected(const ConverterCase& c, const uint8_t* in) {
  const int bps = c.bits / 8;
  std::vector<uint8_t> out;
  for (int ch = 0; ch < c.outChannels; ++ch) {
    if (ch == 3 && c.inChannels == 3) {
      for (int b = 0; b < bps; ++b) out.push_back(0xFF);
      continue;
    }
    const uint8_t* s = in + ch * bps;
    if (bps == 2 && c.inLittle != c.outLittle) {
      out.push_back(s[1]);
      out.push_back(s[0]);
    } else {
      for (int b = 0; b < bps; ++b) out.push_back(s[b]);
    }
  }
  return out;
}

void convert(const std::vector<uint8_t>& in, PixelLayout from, size_t inStart, std::vector<uint8_t>& out,
             PixelLayout to, size_t outStart, size_t count) {
  SpanConverter(from, to)(in.data(), inStart, out.data(), outStart, count);
}

}  // namespace

// Every converter, with offsets on both sides, leaves the neighbours alone.
TEST(SpanConverter, AllTwelveConvertersWithOffsetsAndUntouchedNeighbours) {
  const ConverterCase cases[] = {
      {"CopyRgb8", 8, 3, 3, true, true},          {"Rgb8ToRgba8", 8, 3, 4, true, false},
      {"Rgba8ToRgb8", 8, 4, 3, false, true},      {"CopyRgba8", 8, 4, 4, false, false},
      {"CopyRgb16", 16, 3, 3, true, true},        {"Rgb16ToRgba16", 16, 3, 4, true, true},
      {"Rgba16ToRgb16", 16, 4, 3, false, false},  {"CopyRgba16", 16, 4, 4, false, false},
      {"SwapRgb16", 16, 3, 3, true, false},       {"SwapRgb16ToRgba16", 16, 3, 4, true, false},
      {"SwapRgba16ToRgb16", 16, 4, 3, false, true}, {"SwapRgba16", 16, 4, 4, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int inPix = c.inChannels * c.bits / 8, outPix = c.outChannels * c.bits / 8;
    const int inW = 200, outW = 120, inStart = 100, outStart = 20, count = 50;
    std::vector<uint8_t> in(inW * inPix), out(outW * outPix, 0xAB);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + 3);
    convert(in, {c.bits, c.inChannels, c.inLittle}, inStart, out, {c.bits, c.outChannels, c.outLittle}, outStart,
            count);
    for (int p = 0; p < outW; ++p) {
      const uint8_t* got = &out[p * outPix];
      if (p < outStart || p >= outStart + count) {
        for (int b = 0; b < outPix; ++b) ASSERT_EQ(got[b], 0xAB) << "pixel " << p << " was touched";
      } else {
        std::vector<uint8_t> want = expected(c, &in[(inStart + p - outStart) * inPix]);
        ASSERT_EQ(std::vector<uint8_t>(got, got + outPix), want) << "pixel " << p;
      }
    }
  }
}

TEST(SpanConverter, SixteenBitLittleEndianToKroPixel) {
  std::vector<uint8_t> in = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A}, out(8, 0);
  convert(in, {16, 3, true}, 0, out, {16, 4, false}, 0, 1);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xFF, 0xFF}));
}

TEST(SpanConverter, TwoSpansSideBySideAndNothingForBadShapes) {
  std::vector<uint8_t> a(50 * 3, 1), b(50 * 3, 2), out(100 * 3, 0);
  const PixelLayout rgb8{8, 3, true};
  convert(a, rgb8, 0, out, rgb8, 0, 50);
  convert(b, rgb8, 0, out, rgb8, 50, 50);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(out[i], i < 150 ? 1 : 2);

  std::vector<uint8_t> keep(out);
  convert(a, rgb8, 0, out, rgb8, 0, 0);  // count 0
  convert(a, {12, 3, true}, 0, out, rgb8, 0, 10);
  convert(a, {8, 1, true}, 0, out, rgb8, 0, 10);
  convert(a, rgb8, 0, out, {8, 5, true}, 0, 10);
  EXPECT_EQ(out, keep);
  EXPECT_FALSE(SpanConverter({8, 1, true}, rgb8).valid());
}

// A gray output keeps the first sample (of lines whose samples are equal)
// and the alpha, full where the line has none; 16-bit samples change order.
TEST(SpanConverter, GrayOutputsFromRgbLines) {
  const std::vector<uint8_t> rgba8 = {10, 10, 10, 200, 30, 30, 30, 100};
  std::vector<uint8_t> out(4, 0);
  convert(rgba8, {8, 4, true}, 0, out, {8, 2, true}, 0, 2);
  EXPECT_EQ(out, (std::vector<uint8_t>{10, 200, 30, 100}));
  convert(rgba8, {8, 4, true}, 0, out, {8, 1, true}, 0, 2);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 2), (std::vector<uint8_t>{10, 30}));
  const std::vector<uint8_t> rgb16 = {0x34, 0x12, 0x34, 0x12, 0x34, 0x12};  // 0x1234, host order
  std::vector<uint8_t> big(4, 0);
  convert(rgb16, {16, 3, true}, 0, big, {16, 2, false}, 0, 1);
  EXPECT_EQ(big, (std::vector<uint8_t>{0x12, 0x34, 0xFF, 0xFF}));
}
