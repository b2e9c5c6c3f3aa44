#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "engine/bytefile.h"
#include "engine/files.h"
#include "engine/storedrows.h"
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

namespace {

// A file of `height` rows of 300 kB (three to a MB), the last `shortBy`
// bytes short, opened for StoredRows.
struct RowsFile {
  static constexpr uint64_t line = 300 * 1024;
  testkit::Scratch d;
  std::string bytes;
  ByteFile file;
  RowsFile(uint32_t height, size_t shortBy) : bytes(line * height - shortBy, '\0') {
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i / line * 7 + i % 251);
    testkit::writeFile(d.path("rows"), bytes);
    EXPECT_TRUE(file.openRead(d.path("rows")));
  }
  std::function<int64_t(uint32_t)> offsets() const {
    return [](uint32_t r) { return static_cast<int64_t>(r * line); };
  }
};

}  // namespace

// Rows read in order come from the run read ahead, out of order from a read
// of their own, alone once asked; a row the file ends inside is refused with
// its number wherever it is read.
TEST(StoredRows, InOrderAheadOutOfOrderAloneAndAShortEnd) {
  const uint32_t height = 20;
  RowsFile f(height, 7);
  const uint64_t line = f.line;
  const std::string& bytes = f.bytes;
  StoredRows rows(f.file, line, height, f.offsets());
  ASSERT_TRUE(rows.allocate());
  rows.readAhead();
  std::string why;
  auto same = [&](uint32_t r) {
    const uint8_t* got = rows.row(r, why);
    return got && std::string(reinterpret_cast<const char*>(got), line) == bytes.substr(r * line, line);
  };
  for (uint32_t r = 0; r + 1 < height; ++r) EXPECT_TRUE(same(r)) << r << " " << why;
  EXPECT_EQ(rows.row(height - 1, why), nullptr);
  EXPECT_EQ(why, "row 19: the file ends before the row does");
  for (uint32_t r : {4u, 2u, 11u, 12u, 0u}) EXPECT_TRUE(same(r)) << r << " " << why;
  std::vector<uint8_t> region(2 * 10);
  ASSERT_TRUE(rows.region(3, 5, 10, 2, 1, region.data(), 10, why)) << why;
  EXPECT_EQ(std::string(region.begin(), region.begin() + 10), bytes.substr(5 * line + 3, 10));
  rows.readAlone();
  for (uint32_t r : {18u, 1u}) EXPECT_TRUE(same(r)) << r << " " << why;
  why.clear();
  EXPECT_EQ(rows.row(height - 1, why), nullptr);
  EXPECT_EQ(why, "row 19: the file ends before the row does");
}

// Runs grow when asked before the first row is read, never under rows held;
// a run hands out the rows it holds from the one asked for, at most `most`.
TEST(StoredRows, RunsHandOutTheRowsTheyHold) {
  const uint32_t height = 12;
  RowsFile f(height, 0);
  const uint64_t line = f.line;  // five rows in 1.5 MB
  const std::string& bytes = f.bytes;
  StoredRows rows(f.file, line, height, f.offsets());
  ASSERT_TRUE(rows.allocate());
  rows.readAhead(line * 5);
  std::string why;
  auto run = [&](uint32_t first, uint32_t most) {
    const ImageReader::RowRun got = rows.rows(first, most, why);
    const bool same = got.rows && std::string(reinterpret_cast<const char*>(got.rows), got.count * line) ==
                                      bytes.substr(first * line, got.count * line);
    return same ? got.count : 0u;
  };
  EXPECT_EQ(run(0, 100), 5u) << why;
  EXPECT_EQ(run(2, 2), 2u);
  rows.readAhead(line * 10);  // rows are held: they stay, and runs keep their size
  EXPECT_EQ(run(4, 100), 1u);
  EXPECT_EQ(run(5, 100), 5u) << why;
  EXPECT_EQ(run(10, 100), 2u) << why;
}

// Pieces spaced apart in memory land one after another in the file, across
// the several system calls that hundreds of pieces take; a full disk keeps
// exactly the bytes it had room for, cut inside a piece, and says so.
TEST(ByteFile, SpacedPiecesAcrossCallsAndAFullDisk) {
  testkit::Scratch d;
  const size_t piece = 5, stride = 9, count = 600;
  std::string memory(stride * count, '\0'), want;
  for (size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<char>(i * 31 + i / stride);
  for (size_t i = 0; i < count; ++i) want += memory.substr(i * stride, piece);
  for (int64_t budget : {int64_t{-1}, int64_t{1002}}) {
    ByteFile file;
    ASSERT_TRUE(file.createNew(d.path("spaced" + std::to_string(budget))));
    ASSERT_EQ(file.write("hd", 2), 2u);
    ByteFile::setWriteBudgetForTests(budget);
    const size_t written = file.writeSpacedAt(2, memory.data(), stride, piece, count);
    ByteFile::setWriteBudgetForTests(-1);
    const size_t expected = budget < 0 ? want.size() : static_cast<size_t>(budget);
    EXPECT_EQ(written, expected);
    EXPECT_EQ(file.takeError(), budget < 0 ? 0 : ENOSPC);
    file.close();
    EXPECT_EQ(testkit::readFile(d.path("spaced" + std::to_string(budget))), "hd" + want.substr(0, expected));
  }
}
