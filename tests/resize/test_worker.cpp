#include <gtest/gtest.h>

#include <cstring>

#include "engine/files.h"
#include "resize/pixelblock.h"
#include "resize/rawblock.h"
#include "resize/tileresizer.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

// Runs a resizer to the end on its own thread.
void runToEnd(TileResizer& w) {
  w.start();
  while (!w.finished()) std::this_thread::yield();
}

}  // namespace

TEST(Worker, NamesCarryTheNewSizeAndPosition) {
  Scratch d;
  struct Case {
    const char* src;
    long double divider;
    const char* out;
    int w, h;
  } cases[] = {
      {"pano_1000X800_x3y2.raw", 2, "pano_500X400_x3y2.raw", 1000, 800},
      {"pano_100X100_x3y2.raw", 10, "pano_10X10_x3y2.raw", 100, 100},
      {"pano_100X94_x1y4.raw", 6, "pano_17X16_x1y4.raw", 100, 94},
      {"pano_1000X500.raw", 2.0004L, "pano_500X250.raw", 1000, 500},
      {"scan_200X100.RAW", 1.25L, "scan_160X80.RAW", 200, 100},
      {"half_1000X8.raw", 80, "half_12X0.raw", 1000, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.src);
    writeRaw(d.path(c.src), makePixels(c.w, c.h, 8, 3));
    TileResizer w(d.path(c.src), c.divider, true, 8);
    runToEnd(w);
    if (std::string(c.src).rfind("half", 0) == 0) {
      EXPECT_TRUE(w.failed());  // 8 / 80 rounds to 0
      EXPECT_EQ(w.outputPath(), "");
      continue;
    }
    EXPECT_FALSE(w.failed());
    EXPECT_EQ(w.outputPath(), d.path(c.out));
    EXPECT_GT(fileSize(d.path(c.out)), 0);
  }
}

TEST(Worker, HalfwayNewSizesGoToEven) {
  Scratch d;
  writeRaw(d.path("a_1000X80.raw"), makePixels(1000, 80, 8, 3));
  writeRaw(d.path("b_1080X80.raw"), makePixels(1080, 80, 8, 3));
  TileResizer a(d.path("a_1000X80.raw"), 80, true, 8), b(d.path("b_1080X80.raw"), 80, true, 8);
  runToEnd(a);
  runToEnd(b);
  EXPECT_EQ(a.outputPath(), d.path("a_12X1.raw"));  // 12.5
  EXPECT_EQ(b.outputPath(), d.path("b_14X1.raw"));  // 13.5
}

TEST(Worker, MissingSizeMissingFileAndShortFile) {
  Scratch d;
  writeRaw(d.path("pano.raw"), makePixels(10, 10, 8, 3));
  TileResizer noSize(d.path("pano.raw"), 2, true, 8);
  runToEnd(noSize);
  EXPECT_FALSE(noSize.failed());
  EXPECT_EQ(noSize.outputPath(), "");
  EXPECT_EQ(runCommand("ls " + quote(d.dir())), "pano.raw\n");

  TileResizer missing(d.path("gone_10X10.raw"), 2, true, 8);
  runToEnd(missing);
  EXPECT_TRUE(missing.failed());
  EXPECT_EQ(missing.outputPath(), "");
  // The reason names the file and what the system said.
  EXPECT_NE(missing.failure().find("gone_10X10.raw"), std::string::npos) << missing.failure();
  EXPECT_NE(missing.failure().find("No such file or directory"), std::string::npos) << missing.failure();

  // Half the rows: the lower part of the result is black.
  std::string full = rawBytes(makePixels(100, 100, 8, 3, 3));
  writeFile(d.path("short_100X100.raw"), full.substr(0, 15000));
  TileResizer shortFile(d.path("short_100X100.raw"), 2, true, 8);
  runToEnd(shortFile);
  ASSERT_FALSE(shortFile.failed());
  std::string out = readFile(shortFile.outputPath());
  ASSERT_EQ(out.size(), 50u * 50 * 3);
  EXPECT_EQ(out.substr(30 * 150), std::string(20 * 150, '\0'));
}

TEST(Worker, SixteenBitTilesStaySixteenBit) {
  Scratch d;
  Pixels px = makePixels(40, 20, 16, 3);
  writeRaw(d.path("t_40X20_x1y1.raw"), px);
  TileResizer w(d.path("t_40X20_x1y1.raw"), 2, false, 16);
  runToEnd(w);
  ASSERT_FALSE(w.failed());
  EXPECT_EQ(w.outputPath(), d.path("t_20X10_x1y1.raw"));
  EXPECT_EQ(fileSize(w.outputPath()), 20 * 10 * 6);
}

TEST(RawBlock, WriteAndReadBackExactBytes) {
  Scratch d;
  PixelBlock block(2, 2, PixelFormat::Rgb8);
  for (int i = 0; i < 12; ++i) block.data()[i] = static_cast<uint8_t>(i + 1);
  writeFile(d.path("taken.raw"), std::string(100, 'z'));  // an existing name is never written over
  EXPECT_THROW(writeRawBlock(d.path("taken.raw"), block), ImagingError);
  EXPECT_EQ(readFile(d.path("taken.raw")), std::string(100, 'z'));
  writeRawBlock(d.path("x.raw"), block);
  EXPECT_EQ(readFile(d.path("x.raw")), std::string("\1\2\3\4\5\6\7\10\11\12\13\14", 12));
  PixelBlock back = readRawBlock(d.path("x.raw"), 2, 2, PixelFormat::Rgb8);
  EXPECT_EQ(std::memcmp(back.data(), block.data(), 12), 0);
  EXPECT_THROW(readRawBlock("", 2, 2, PixelFormat::Rgb8), ImagingError);
  EXPECT_THROW(readRawBlock(d.path("none.raw"), 2, 2, PixelFormat::Rgb8), ImagingError);
  EXPECT_THROW(PixelBlock(0, 5, PixelFormat::Rgb8), ImagingError);
}

TEST(RawBlock, BlocksOwnTheirPixelsAndMoveThem) {
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
