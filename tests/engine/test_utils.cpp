#include <gtest/gtest.h>

#include "engine/utils.h"
#include "testkit.h"

TEST(TextHelpers, PixelCountTextScalesByThousands) {
  EXPECT_EQ(PixelCountText(0), "0.00 Pixels");
  EXPECT_EQ(PixelCountText(999), "999.00 Pixels");
  EXPECT_EQ(PixelCountText(1000), "1.00 Kilopixels");
  EXPECT_EQ(PixelCountText(999999), "1000.00 Kilopixels");
  EXPECT_EQ(PixelCountText(1500000), "1.50 Megapixels");
  EXPECT_EQ(PixelCountText(40000000000LL), "40.00 Gigapixels");
  EXPECT_EQ(PixelCountText(INT64_MAX), "9.22 Exapixels");
}

TEST(TextHelpers, DotThousandsGroupsFourTimesAtMost) {
  EXPECT_EQ(DotThousands(0), "0");
  EXPECT_EQ(DotThousands(999), "999");
  EXPECT_EQ(DotThousands(1000), "1.000");
  EXPECT_EQ(DotThousands(1234567), "1.234.567");
  EXPECT_EQ(DotThousands(12345678), "12.345.678");
  EXPECT_EQ(DotThousands(123456789), "123.456.789");
  EXPECT_EQ(DotThousands(1234567890123LL), "1.234.567.890.123");
  EXPECT_EQ(DotThousands(1234567890123456LL), "1234.567.890.123.456");
}

TEST(TextHelpers, SwapBytes32ReversesAndIsItsOwnInverse) {
  EXPECT_EQ(SwapBytes32(20000), 541982720u);
  EXPECT_EQ(SwapBytes32(0x12345678u), 0x78563412u);
  EXPECT_EQ(SwapBytes32(SwapBytes32(0xDEADBEEFu)), 0xDEADBEEFu);
}

TEST(TextHelpers, SafeStrToIntReadsLikeTheStandardConversion) {
  EXPECT_EQ(SafeStrToInt("12a"), 0);
  EXPECT_EQ(SafeStrToInt(""), 0);
  EXPECT_EQ(SafeStrToInt("99999999999"), 0);
  EXPECT_EQ(SafeStrToInt("0042"), 42);
  EXPECT_EQ(SafeStrToInt("  42"), 42);
  EXPECT_EQ(SafeStrToInt("42 "), 0);
  EXPECT_EQ(SafeStrToInt("$1F"), 31);
  EXPECT_EQ(SafeStrToInt("0x1f"), 31);
  EXPECT_EQ(SafeStrToInt("x10"), 16);
  EXPECT_EQ(SafeStrToInt("-17"), -17);
  EXPECT_EQ(SafeStrToInt("+5"), 5);
  EXPECT_EQ(SafeStrToInt("-"), 0);
  EXPECT_EQ(SafeStrToInt("2147483647"), 2147483647);
  EXPECT_EQ(SafeStrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(SafeStrToInt("2147483648"), 0);
}

TEST(FileHelpers, FileSizeAndFreeSpace) {
  testkit::TScratch dir;
  EXPECT_EQ(GetFileSize64(dir.Path("missing")), -1);
  testkit::WriteFile(dir.Path("five"), "12345");
  EXPECT_EQ(GetFileSize64(dir.Path("five")), 5);
  EXPECT_GT(DiskFreeBytes(dir.Dir()), 0);
  EXPECT_EQ(DiskFreeBytes(dir.Path("no-such-folder/")), 0);
  EXPECT_EQ(DiskFreeBytes(""), 0);
}

TEST(FileHelpers, SameFileFollowsLinksAndOtherSpellings) {
  testkit::TScratch dir;
  testkit::WriteFile(dir.Path("a.tif"), "x");
  EXPECT_TRUE(SameFile(dir.Path("a.tif"), dir.Dir() + "./a.tif"));
  ASSERT_EQ(::symlink(dir.Path("a.tif").c_str(), dir.Path("link.tif").c_str()), 0);
  EXPECT_TRUE(SameFile(dir.Path("link.tif"), dir.Path("a.tif")));
  EXPECT_FALSE(SameFile(dir.Path("missing.tif"), dir.Path("a.tif")));
}
