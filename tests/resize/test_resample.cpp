#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "resize/pixelblock.h"
#include "resize/resample.h"

using namespace torvel;

namespace {

// A one-row 8-bit image whose pixels carry the same value in all three bytes.
PixelBlock row(const std::vector<int>& values) {
  PixelBlock b(static_cast<int32_t>(values.size()), 1, PixelFormat::Rgb8);
  for (size_t i = 0; i < values.size(); ++i) std::memset(b.data() + 3 * i, values[i], 3);
  return b;
}

std::vector<int> values(const PixelBlock& b) {
  std::vector<int> v;
  for (int32_t i = 0; i < b.width() * b.height(); ++i) {
    EXPECT_EQ(b.data()[3 * i], b.data()[3 * i + 1]);
    EXPECT_EQ(b.data()[3 * i], b.data()[3 * i + 2]);
    v.push_back(b.data()[3 * i]);
  }
  return v;
}

std::vector<int> scaled(const std::vector<int>& v, int32_t width, ResizeFilter f, bool reference = false) {
  PixelBlock b = row(v);
  EXPECT_TRUE(scaleBlock(b, width, 1, f, {reference}));
  return values(b);
}

PixelBlock random(int32_t w, int32_t h, PixelFormat f, uint32_t seed) {
  PixelBlock b(w, h, f);
  std::mt19937 rng(seed);
  for (int64_t i = 0; i < b.bytes(); ++i) b.data()[i] = static_cast<uint8_t>(rng());
  return b;
}

PixelBlock copyOf(const PixelBlock& b) {
  PixelBlock c(b.width(), b.height(), b.format());
  std::memcpy(c.data(), b.data(), size_t(b.bytes()));
  return c;
}

}  // namespace

TEST(Resample, LanczosEdgeCasesGiveTheSpecifiedBytes) {
  for (bool reference : {true, false}) {
    EXPECT_EQ(scaled({0, 100, 200, 255}, 2, ResizeFilter::Lanczos, reference), (std::vector<int>{51, 230}));
    EXPECT_EQ(scaled({10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 5, ResizeFilter::Lanczos, reference),
              (std::vector<int>{15, 35, 55, 75, 95}));
    EXPECT_EQ(scaled({0, 0, 0, 0, 255, 255, 255, 255}, 4, ResizeFilter::Lanczos, reference),
              (std::vector<int>{0, 14, 241, 255}));
  }
  EXPECT_EQ(scaled({10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, 4, ResizeFilter::Nearest),
            (std::vector<int>{10, 30, 60, 80}));
}

TEST(Resample, ContributorsOfAFourToTwoShrink) {
  ContributorTable t = buildContributors(2, 4, lanczos, lanczosRadius);
  ASSERT_EQ(t.size(), 2u);
  const Cluster& c = t[0];
  ASSERT_EQ(c.size(), 12u);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(c[k].pos, 0) << k;
  EXPECT_EQ(c[6].pos, 1);
  EXPECT_EQ(c[11].pos, 3);
  // The raw weight of index 5 (source 0 at distance 0.5 x 0.5) before correction.
  const float raw5 = static_cast<float>(static_cast<long double>(lanczos(0.25f)) * 0.5f);
  EXPECT_NE(c[5].weight, raw5);
  float sum = 0;
  for (const Contribution& p : c) sum += p.weight;
  EXPECT_NEAR(sum, 1.0f, 1e-6);
  // A source of one pixel: every output takes it whole.
  ContributorTable one = buildContributors(5, 1, lanczos, lanczosRadius);
  ASSERT_EQ(one.size(), 5u);
  for (const Cluster& k : one) {
    ASSERT_EQ(k.size(), 1u);
    EXPECT_EQ(k[0].pos, 0);
    EXPECT_EQ(k[0].weight, 1.0f);
  }
  EXPECT_TRUE(buildContributors(0, 5, lanczos, lanczosRadius).empty());
}

TEST(Resample, KernelValues) {
  EXPECT_EQ(sinc(0.0f), 1.0f);
  EXPECT_EQ(lanczos(3.0f), 0.0f);
  EXPECT_EQ(lanczos(-3.5f), 0.0f);
  EXPECT_EQ(lanczos(0.0f), 1.0f);
  EXPECT_NEAR(lanczos(1.0f), 0.0f, 1e-7);
  EXPECT_NEAR(lanczos(0.5f), 0.6079271f, 1e-6);
  EXPECT_EQ(lanczos(-0.5f), lanczos(0.5f));
}

TEST(Resample, ScaleBlockRefusalsAndNoOps) {
  PixelBlock b = row({1, 2, 3});
  const uint8_t* before = b.data();
  EXPECT_FALSE(scaleBlock(b, 3, 1, ResizeFilter::Lanczos));
  EXPECT_EQ(b.data(), before);
  EXPECT_THROW(scaleBlock(b, 0, 1, ResizeFilter::Lanczos), ImagingError);
  EXPECT_THROW(scaleBlock(b, 2, -1, ResizeFilter::Nearest), ImagingError);
  try {
    scaleBlock(b, 0, 1, ResizeFilter::Lanczos);
  } catch (const ImagingError& e) {
    EXPECT_STREQ(e.what(), "New width or height is zero.");
  }
  PixelBlock empty;
  EXPECT_FALSE(scaleBlock(empty, 5, 5, ResizeFilter::Nearest));
  try {
    PixelBlock(0, 5, PixelFormat::Rgb8);
    ADD_FAILURE() << "an empty block was made";
  } catch (const ImagingError& e) {
    EXPECT_STREQ(e.what(), "An image of 0 × 5 pixels has none: both sides must be at least one pixel");
  }
}

// The parallel path gives the reference's bytes on awkward sizes and factors.
TEST(Resample, ParallelPathEqualsTheReferenceByteForByte) {
  struct Case {
    int32_t w, h, nw, nh;
  } cases[] = {{257, 131, 123, 61}, {1, 97, 1, 13},  {97, 1, 13, 1},   {211, 149, 10, 7}, {64, 64, 63, 63},
               {630, 9, 30, 1},     {31, 37, 45, 50}, {999, 3, 47, 2}, {5, 5, 1, 1}, {1003, 517, 101, 52}, {40, 40, 1, 1}, {333, 20, 16, 1}};
  for (PixelFormat fmt : {PixelFormat::Rgb8, PixelFormat::Rgb16}) {
    uint32_t seed = 1;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(formatInfo(fmt).name) + ": " + std::to_string(c.w) + "x" + std::to_string(c.h) +
                   " -> " + std::to_string(c.nw) + "x" + std::to_string(c.nh));
      PixelBlock a = random(c.w, c.h, fmt, seed++);
      const PixelBlock source = copyOf(a);
      scaleBlock(a, c.nw, c.nh, ResizeFilter::Lanczos, {true});
      // Every kernel set this machine runs (the widest, AVX2, scalar).
      for (KernelSet set : {KernelSet::Widest, KernelSet::Avx2, KernelSet::Scalar}) {
        PixelBlock v = copyOf(source);
        scaleBlock(v, c.nw, c.nh, ResizeFilter::Lanczos, {false, set});
        ASSERT_EQ(a.bytes(), v.bytes());
        EXPECT_EQ(std::memcmp(a.data(), v.data(), size_t(a.bytes())), 0) << "kernel set " << int(set);
      }
    }
  }
  // Band by band, in bands that do not divide the height, the same bytes as in one piece.
  for (PixelFormat fmt : {PixelFormat::Rgb8, PixelFormat::Rgb16}) {
    const PixelBlock source = random(301, 203, fmt, 7);
    PixelBlock whole(97, 61, fmt), band(97, 7, fmt);
    scaleInto(source, whole, ResizeFilter::Lanczos);
    const BandScaler scaler(source, 97, 61);
    for (int32_t first = 0; first < 61; first += 7) {
      band.reshape(97, std::min(7, 61 - first));
      ASSERT_TRUE(scaler.scaleRows(first, band));
      EXPECT_EQ(std::memcmp(band.data(), whole.row(first), size_t(band.bytes())), 0) << first;
    }
    band.reshape(97, 7);
    EXPECT_THROW(scaler.scaleRows(58, band), ImagingError);  // past the last row
  }
  // More threads than rows, and one thread, give the same bytes too.
  const PixelBlock src = random(300, 200, PixelFormat::Rgb8, 99);
  PixelBlock one(29, 3, PixelFormat::Rgb8), many(29, 3, PixelFormat::Rgb8);
  sampleFilteredParallel(src, one, lanczos, lanczosRadius, {false, KernelSet::Widest, 1});
  sampleFilteredParallel(src, many, lanczos, lanczosRadius, {false, KernelSet::Widest, 8});
  EXPECT_EQ(std::memcmp(one.data(), many.data(), size_t(one.bytes())), 0);
}

TEST(Resample, SixteenBitsUseTheFullRange) {
  PixelBlock b(4, 1, PixelFormat::Rgb16);
  uint16_t* s = reinterpret_cast<uint16_t*>(b.data());
  const uint16_t v[4] = {0, 25700, 51400, 65535};  // 0, 100, 200, 255 times 257
  for (int i = 0; i < 4; ++i) s[3 * i] = s[3 * i + 1] = s[3 * i + 2] = v[i];
  ASSERT_TRUE(scaleBlock(b, 2, 1, ResizeFilter::Lanczos));
  const uint16_t* d = reinterpret_cast<const uint16_t*>(b.data());
  // 50.70 and 230.24 of 255, now of 65535.
  EXPECT_NEAR(d[0], 50.70 * 257, 3);
  EXPECT_NEAR(d[3], 230.24 * 257, 3);
  EXPECT_EQ(d[0], d[1]);
}

TEST(Resample, NearestOnLargeSidesDoesNotOverflow) {
  // 40000 source columns: SW x 65536 would not fit 32 bits.
  PixelBlock b(40000, 1, PixelFormat::Rgb8);
  for (int i = 0; i < 40000; ++i) b.data()[3 * i] = static_cast<uint8_t>(i / 157);
  ASSERT_TRUE(scaleBlock(b, 4, 1, ResizeFilter::Nearest));
  EXPECT_EQ(b.data()[3 * 1], 10000 / 157);
  EXPECT_EQ(b.data()[3 * 3], 30000 / 157);
}

TEST(PixelBlocks, OwnTheirPixelsAndMoveThem) {
  PixelBlock empty;
  EXPECT_TRUE(empty.empty());
  PixelBlock a(4, 4, PixelFormat::Rgb16);
  EXPECT_EQ(a.bytes(), 4 * 4 * 6);
  const uint8_t* bits = a.data();
  PixelBlock b = std::move(a);
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(b.data(), bits);
  EXPECT_EQ(b.row(1), bits + 24);
  b = PixelBlock();
  EXPECT_TRUE(b.empty());
}
