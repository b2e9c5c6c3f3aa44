#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "resize/image.h"
#include "resize/resample.h"

namespace {

// A one-row 8-bit image whose pixels carry the same value in all three bytes.
TImageData Row(const std::vector<int>& values) {
  TImageData img;
  AllocImage(static_cast<int32_t>(values.size()), 1, ifR8G8B8, img);
  for (size_t i = 0; i < values.size(); ++i) std::memset(img.Bits + 3 * i, values[i], 3);
  return img;
}

std::vector<int> Values(const TImageData& img) {
  std::vector<int> v;
  for (int32_t i = 0; i < img.Width * img.Height; ++i) {
    EXPECT_EQ(img.Bits[3 * i], img.Bits[3 * i + 1]);
    EXPECT_EQ(img.Bits[3 * i], img.Bits[3 * i + 2]);
    v.push_back(img.Bits[3 * i]);
  }
  return v;
}

std::vector<int> Scaled(const std::vector<int>& values, int32_t width, TResizeFilter f) {
  TImageHolder h;
  h.Image = Row(values);
  EXPECT_TRUE(ScaleImage(h.Image, width, 1, f));
  return Values(h.Image);
}

TImageData Random(int32_t w, int32_t h, TImageFormat f, uint32_t seed) {
  TImageData img;
  AllocImage(w, h, f, img);
  std::mt19937 rng(seed);
  for (int64_t i = 0; i < img.Size; ++i) img.Bits[i] = static_cast<uint8_t>(rng());
  return img;
}

}  // namespace

TEST(Resample, LanczosEdgeCasesGiveTheSpecifiedBytes) {
  for (TResamplePath path : {TResamplePath::Reference, TResamplePath::Parallel}) {
    SetResamplePath(path);
    EXPECT_EQ(Scaled({0, 100, 200, 255}, 2, rfLanczos), (std::vector<int>{51, 230}));
    EXPECT_EQ(Scaled({10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 5, rfLanczos),
              (std::vector<int>{15, 35, 55, 75, 95}));
    EXPECT_EQ(Scaled({0, 0, 0, 0, 255, 255, 255, 255}, 4, rfLanczos), (std::vector<int>{0, 14, 241, 255}));
  }
  SetResamplePath(TResamplePath::Parallel);
  EXPECT_EQ(Scaled({10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 4, rfNearest), (std::vector<int>{10, 30, 60, 80}));
}

TEST(Resample, ContributorsOfAFourToTwoShrink) {
  TMappingTable t = BuildContributors(2, 4, LanczosFilter, LanczosRadius);
  ASSERT_EQ(t.size(), 2u);
  const TCluster& c = t[0];
  ASSERT_EQ(c.size(), 12u);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(c[k].Pos, 0) << k;
  EXPECT_EQ(c[6].Pos, 1);
  EXPECT_EQ(c[11].Pos, 3);
  // The raw weight of index 5 (source 0 at distance 0.5 x 0.5) before correction.
  const float raw5 = static_cast<float>(static_cast<long double>(LanczosFilter(0.25f)) * 0.5f);
  EXPECT_NE(c[5].Weight, raw5);
  float sum = 0;
  for (const TPointRec& p : c) sum += p.Weight;
  EXPECT_NEAR(sum, 1.0f, 1e-6);
  // A source of one pixel: every output takes it whole.
  TMappingTable one = BuildContributors(5, 1, LanczosFilter, LanczosRadius);
  ASSERT_EQ(one.size(), 5u);
  for (const TCluster& k : one) {
    ASSERT_EQ(k.size(), 1u);
    EXPECT_EQ(k[0].Pos, 0);
    EXPECT_EQ(k[0].Weight, 1.0f);
  }
  EXPECT_TRUE(BuildContributors(0, 5, LanczosFilter, LanczosRadius).empty());
}

TEST(Resample, KernelValues) {
  EXPECT_EQ(Sinc(0.0f), 1.0f);
  EXPECT_EQ(LanczosFilter(3.0f), 0.0f);
  EXPECT_EQ(LanczosFilter(-3.5f), 0.0f);
  EXPECT_EQ(LanczosFilter(0.0f), 1.0f);
  EXPECT_NEAR(LanczosFilter(1.0f), 0.0f, 1e-7);
  EXPECT_NEAR(LanczosFilter(0.5f), 0.6079271f, 1e-6);
  EXPECT_EQ(LanczosFilter(-0.5f), LanczosFilter(0.5f));
}

TEST(Resample, ScaleImageRefusalsAndNoOps) {
  TImageHolder h;
  h.Image = Row({1, 2, 3});
  uint8_t* before = h.Image.Bits;
  EXPECT_FALSE(ScaleImage(h.Image, 3, 1, rfLanczos));
  EXPECT_EQ(h.Image.Bits, before);
  EXPECT_THROW(ScaleImage(h.Image, 0, 1, rfLanczos), EImagingError);
  EXPECT_THROW(ScaleImage(h.Image, 2, -1, rfNearest), EImagingError);
  try {
    ScaleImage(h.Image, 0, 1, rfLanczos);
  } catch (const EImagingError& e) {
    EXPECT_STREQ(e.what(), "New width or height is zero.");
  }
  TImageData empty;
  EXPECT_FALSE(ScaleImage(empty, 5, 5, rfNearest));
}

// The parallel path gives the reference's bytes on awkward sizes and factors.
TEST(Resample, ParallelPathEqualsTheReferenceByteForByte) {
  struct Case {
    int32_t W, H, NW, NH;
  } cases[] = {{257, 131, 123, 61}, {1, 97, 1, 13},  {97, 1, 13, 1},   {211, 149, 10, 7}, {64, 64, 63, 63},
               {630, 9, 30, 1},     {31, 37, 45, 50}, {999, 3, 47, 2}, {5, 5, 1, 1}, {1003, 517, 101, 52}, {40, 40, 1, 1}, {333, 20, 16, 1}};
  for (TImageFormat fmt : {ifR8G8B8, ifR16G16B16}) {
    uint32_t seed = 1;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(fmt) + ": " + std::to_string(c.W) + "x" + std::to_string(c.H) + " -> " +
                   std::to_string(c.NW) + "x" + std::to_string(c.NH));
      TImageHolder a, b;
      a.Image = Random(c.W, c.H, fmt, seed++);
      AllocImage(c.W, c.H, fmt, b.Image);
      std::memcpy(b.Image.Bits, a.Image.Bits, size_t(a.Image.Size));
      SetResamplePath(TResamplePath::Reference);
      ScaleImage(a.Image, c.NW, c.NH, rfLanczos);
      // The vector kernels, and the scalar kernels of machines without them.
      for (bool vectors : {true, false}) {
        TImageHolder v;
        AllocImage(c.W, c.H, fmt, v.Image);
        std::memcpy(v.Image.Bits, b.Image.Bits, size_t(b.Image.Size));
        SetResamplePath(TResamplePath::Parallel);
        SetResampleVectorsForTests(vectors);
        ScaleImage(v.Image, c.NW, c.NH, rfLanczos);
        SetResampleVectorsForTests(true);
        ASSERT_EQ(a.Image.Size, v.Image.Size);
        EXPECT_EQ(std::memcmp(a.Image.Bits, v.Image.Bits, size_t(a.Image.Size)), 0) << "vectors " << vectors;
      }
    }
  }
  // More threads than rows, and one thread, give the same bytes too.
  TImageHolder src, one, many;
  src.Image = Random(300, 200, ifR8G8B8, 99);
  AllocImage(29, 3, ifR8G8B8, one.Image);
  AllocImage(29, 3, ifR8G8B8, many.Image);
  SampleFilteredParallel(src.Image, one.Image, LanczosFilter, LanczosRadius, 1);
  SampleFilteredParallel(src.Image, many.Image, LanczosFilter, LanczosRadius, 8);
  EXPECT_EQ(std::memcmp(one.Image.Bits, many.Image.Bits, size_t(one.Image.Size)), 0);
}

TEST(Resample, SixteenBitsUseTheFullRange) {
  TImageHolder h;
  AllocImage(4, 1, ifR16G16B16, h.Image);
  uint16_t* s = reinterpret_cast<uint16_t*>(h.Image.Bits);
  const uint16_t v[4] = {0, 25700, 51400, 65535};  // 0, 100, 200, 255 times 257
  for (int i = 0; i < 4; ++i) s[3 * i] = s[3 * i + 1] = s[3 * i + 2] = v[i];
  ASSERT_TRUE(ScaleImage(h.Image, 2, 1, rfLanczos));
  const uint16_t* d = reinterpret_cast<uint16_t*>(h.Image.Bits);
  // 50.70 and 230.24 of 255, now of 65535.
  EXPECT_NEAR(d[0], 50.70 * 257, 3);
  EXPECT_NEAR(d[3], 230.24 * 257, 3);
  EXPECT_EQ(d[0], d[1]);
}

TEST(Resample, NearestOnLargeSidesDoesNotOverflow) {
  // 40000 source columns: SW x 65536 would not fit 32 bits.
  TImageHolder h;
  AllocImage(40000, 1, ifR8G8B8, h.Image);
  for (int i = 0; i < 40000; ++i) h.Image.Bits[3 * i] = static_cast<uint8_t>(i / 157);
  ASSERT_TRUE(ScaleImage(h.Image, 4, 1, rfNearest));
  EXPECT_EQ(h.Image.Bits[3 * 1], 10000 / 157);
  EXPECT_EQ(h.Image.Bits[3 * 3], 30000 / 157);
}
