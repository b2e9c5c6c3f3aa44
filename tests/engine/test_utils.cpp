#include <gtest/gtest.h>

#include "engine/files.h"
#include "testkit.h"

using namespace torvel;

TEST(TextHelpers, pixelCountTextScalesByThousands) {
  EXPECT_EQ(pixelCountText(0), "0.00 Pixels");
  EXPECT_EQ(pixelCountText(999), "999.00 Pixels");
  EXPECT_EQ(pixelCountText(1000), "1.00 Kilopixels");
  EXPECT_EQ(pixelCountText(999999), "1000.00 Kilopixels");
  EXPECT_EQ(pixelCountText(1500000), "1.50 Megapixels");
  EXPECT_EQ(pixelCountText(40000000000LL), "40.00 Gigapixels");
  EXPECT_EQ(pixelCountText(INT64_MAX), "9.22 Exapixels");
}

TEST(TextHelpers, dotThousandsGroupsFourTimesAtMost) {
  EXPECT_EQ(dotThousands(0), "0");
  EXPECT_EQ(dotThousands(999), "999");
  EXPECT_EQ(dotThousands(1000), "1.000");
  EXPECT_EQ(dotThousands(1234567), "1.234.567");
  EXPECT_EQ(dotThousands(12345678), "12.345.678");
  EXPECT_EQ(dotThousands(123456789), "123.456.789");
  EXPECT_EQ(dotThousands(1234567890123LL), "1.234.567.890.123");
  EXPECT_EQ(dotThousands(1234567890123456LL), "1234.567.890.123.456");
}

TEST(TextHelpers, swapBytes32ReversesAndIsItsOwnInverse) {
  EXPECT_EQ(swapBytes32(20000), 541982720u);
  EXPECT_EQ(swapBytes32(0x12345678u), 0x78563412u);
  EXPECT_EQ(swapBytes32(swapBytes32(0xDEADBEEFu)), 0xDEADBEEFu);
}

TEST(TextHelpers, safeStrToIntReadsLikeTheStandardConversion) {
  EXPECT_EQ(safeStrToInt("12a"), 0);
  EXPECT_EQ(safeStrToInt(""), 0);
  EXPECT_EQ(safeStrToInt("99999999999"), 0);
  EXPECT_EQ(safeStrToInt("0042"), 42);
  EXPECT_EQ(safeStrToInt("  42"), 42);
  EXPECT_EQ(safeStrToInt("42 "), 0);
  EXPECT_EQ(safeStrToInt("$1F"), 31);
  EXPECT_EQ(safeStrToInt("0x1f"), 31);
  EXPECT_EQ(safeStrToInt("x10"), 16);
  EXPECT_EQ(safeStrToInt("-17"), -17);
  EXPECT_EQ(safeStrToInt("+5"), 5);
  EXPECT_EQ(safeStrToInt("-"), 0);
  EXPECT_EQ(safeStrToInt("2147483647"), 2147483647);
  EXPECT_EQ(safeStrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(safeStrToInt("2147483648"), 0);
}

TEST(FileHelpers, FileSizeAndFreeSpace) {
  testkit::Scratch dir;
  EXPECT_EQ(fileSize(dir.path("missing")), -1);
  testkit::writeFile(dir.path("five"), "12345");
  EXPECT_EQ(fileSize(dir.path("five")), 5);
  EXPECT_GT(diskFreeBytes(dir.dir()), 0);
  EXPECT_EQ(diskFreeBytes(dir.path("no-such-folder/")), 0);
  EXPECT_EQ(diskFreeBytes(""), 0);
}

TEST(FileHelpers, sameFileFollowsLinksAndOtherSpellings) {
  testkit::Scratch dir;
  testkit::writeFile(dir.path("a.tif"), "x");
  EXPECT_TRUE(sameFile(dir.path("a.tif"), dir.dir() + "./a.tif"));
  ASSERT_EQ(::symlink(dir.path("a.tif").c_str(), dir.path("link.tif").c_str()), 0);
  EXPECT_TRUE(sameFile(dir.path("link.tif"), dir.path("a.tif")));
  EXPECT_FALSE(sameFile(dir.path("missing.tif"), dir.path("a.tif")));
}
