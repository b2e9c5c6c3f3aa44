#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/torvel.h"

namespace {

// A line description over a caller-owned buffer.
TFileInfo Line(std::vector<uint8_t>& buf, int bits, int channels, bool lsb) {
  TFileInfo f;
  f.Bits = static_cast<uint8_t>(bits);
  f.Channels = static_cast<uint8_t>(channels);
  f.IsLsb = lsb;
  f.ScanLine = buf.data();
  return f;
}

struct ConverterCase {
  const char* Name;
  int Bits, InCh, OutCh;
  bool InLsb, OutLsb;
};

// The expected bytes of one output pixel made from input pixel bytes `in`.
std::vector<uint8_t> Expected(const ConverterCase& c, const uint8_t* in) {
  const int bps = c.Bits / 8;
  std::vector<uint8_t> out;
  for (int ch = 0; ch < c.OutCh; ++ch) {
    if (ch == 3 && c.InCh == 3) {
      for (int b = 0; b < bps; ++b) out.push_back(0xFF);
      continue;
    }
    const uint8_t* s = in + ch * bps;
    if (bps == 2 && c.InLsb != c.OutLsb) {
      out.push_back(s[1]);
      out.push_back(s[0]);
    } else {
      for (int b = 0; b < bps; ++b) out.push_back(s[b]);
    }
  }
  return out;
}

}  // namespace

// Every converter, with offsets on both sides, leaves the neighbours alone.
TEST(ConvertSpan, AllTwelveConvertersWithOffsetsAndUntouchedNeighbours) {
  const ConverterCase cases[] = {
      {"CopyRgb8", 8, 3, 3, true, true},          {"Rgb8ToRgba8", 8, 3, 4, true, false},
      {"Rgba8ToRgb8", 8, 4, 3, false, true},      {"CopyRgba8", 8, 4, 4, false, false},
      {"CopyRgb16", 16, 3, 3, true, true},        {"Rgb16ToRgba16", 16, 3, 4, true, true},
      {"Rgba16ToRgb16", 16, 4, 3, false, false},  {"CopyRgba16", 16, 4, 4, false, false},
      {"SwapRgb16", 16, 3, 3, true, false},       {"SwapRgb16ToRgba16", 16, 3, 4, true, false},
      {"SwapRgba16ToRgb16", 16, 4, 3, false, true}, {"SwapRgba16", 16, 4, 4, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const int inPix = c.InCh * c.Bits / 8, outPix = c.OutCh * c.Bits / 8;
    const int inW = 200, outW = 120, inStart = 100, outStart = 20, count = 50;
    std::vector<uint8_t> in(inW * inPix), out(outW * outPix, 0xAB);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + 3);
    TTorvel S;
    TFileInfo inInfo = Line(in, c.Bits, c.InCh, c.InLsb), outInfo = Line(out, c.Bits, c.OutCh, c.OutLsb);
    ConvertSpan(S, inInfo, inStart, outInfo, outStart, count);
    for (int p = 0; p < outW; ++p) {
      const uint8_t* got = &out[p * outPix];
      if (p < outStart || p >= outStart + count) {
        for (int b = 0; b < outPix; ++b) ASSERT_EQ(got[b], 0xAB) << "pixel " << p << " was touched";
      } else {
        std::vector<uint8_t> want = Expected(c, &in[(inStart + p - outStart) * inPix]);
        ASSERT_EQ(std::vector<uint8_t>(got, got + outPix), want) << "pixel " << p;
      }
    }
  }
}

TEST(ConvertSpan, SixteenBitLittleEndianToKroPixel) {
  std::vector<uint8_t> in = {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A}, out(8, 0);
  TTorvel S;
  ConvertSpan(S, Line(in, 16, 3, true), 0, Line(out, 16, 4, false), 0, 1);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xFF, 0xFF}));
}

TEST(ConvertSpan, TwoSpansSideBySideAndNothingForBadShapes) {
  std::vector<uint8_t> a(50 * 3, 1), b(50 * 3, 2), out(100 * 3, 0);
  TTorvel S;
  TFileInfo o = Line(out, 8, 3, true);
  ConvertSpan(S, Line(a, 8, 3, true), 0, o, 0, 50);
  ConvertSpan(S, Line(b, 8, 3, true), 0, o, 50, 50);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(out[i], i < 150 ? 1 : 2);

  std::vector<uint8_t> keep(out);
  ConvertSpan(S, Line(a, 8, 3, true), 0, o, 0, 0);  // Count 0
  ConvertSpan(S, Line(a, 12, 3, true), 0, o, 0, 10);
  ConvertSpan(S, Line(a, 8, 1, true), 0, o, 0, 10);
  ConvertSpan(S, Line(a, 8, 3, true), 0, Line(out, 8, 2, true), 0, 10);
  EXPECT_EQ(out, keep);
}
