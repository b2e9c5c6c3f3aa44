#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <cstring>
#include <sstream>
#include <tiffio.h>

#include "engine/files.h"
#include "engine/reader.h"
#include "engine/writer.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

// Outputs of a probed small TIFF input, the overwrite question answered
// from a script, and unlimited free space unless a test says otherwise.
struct Out {
  Harness h;
  Scratch& dir = h.dir;
  ImageInfo input;
  OutputCreation made;
  bool forceBigTiff = false;
  explicit Out(int bits = 8) {
    writeTiff(dir.path("in.tif"), makePixels(4, 3, bits, 3));
    input = probeImage(dir.path("in.tif"));
    setDiskFreeHookForTests([](const std::string&) { return int64_t{1} << 50; });
  }
  ~Out() {
    made.writer.reset();
    setDiskFreeHookForTests(nullptr);
  }
  bool create(FileKind kind, uint32_t w, uint32_t h, const std::string& base, bool lzw = false) {
    made = createOutput({dir.path(base), {kind, lzw}, w, h, input.bits, forceBigTiff, input.path}, this->h.context());
    return made.writer != nullptr;
  }
  ImageWriter& writer() { return *made.writer; }
  void close() {
    if (made.writer) made.writer->finish();
    made.writer.reset();
  }
};

// The value list of a tag in tiffdump's listing, e.g. "16 16 16".
std::string tagValue(const std::string& dump, const std::string& tag) {
  size_t at = dump.find(tag);
  if (at == std::string::npos) return "<missing>";
  size_t open = dump.find('<', at), close = dump.find('>', at);
  return dump.substr(open + 1, close - open - 1);
}

int tiffVersionByte(const std::string& path) { return static_cast<unsigned char>(readFile(path).at(2)); }

}  // namespace

TEST(CreateOutput, BigTiffOnBothSidesOfTheThreshold) {
  Out o;
  // 50000 x 26666 x 3 = 3999900000 bytes: classic.
  ASSERT_TRUE(o.create(FileKind::Tiff, 50000, 26666, "small"));
  EXPECT_FALSE(o.made.bigTiff);
  EXPECT_EQ(o.made.path, o.dir.path("small.tif"));
  o.close();
  EXPECT_EQ(tiffVersionByte(o.dir.path("small.tif")), 42);
  // 50000 x 26667 x 3 = 4000050000 bytes: BigTIFF.
  ASSERT_TRUE(o.create(FileKind::Tiff, 50000, 26667, "large"));
  EXPECT_TRUE(o.made.bigTiff);
  EXPECT_EQ(o.made.path, o.dir.path("large.big.tif"));
  o.close();
  EXPECT_EQ(tiffVersionByte(o.dir.path("large.big.tif")), 43);
}

TEST(CreateOutput, SixteenBitsHalveTheThresholdAndForceMakesAnyBig) {
  Out o(16);
  ASSERT_TRUE(o.create(FileKind::Tiff, 50000, 13333, "a"));  // 3999900000 bytes
  EXPECT_FALSE(o.made.bigTiff);
  o.close();
  ASSERT_TRUE(o.create(FileKind::Tiff, 50000, 13334, "b"));
  EXPECT_TRUE(o.made.bigTiff);
  o.close();
  o.forceBigTiff = true;
  ASSERT_TRUE(o.create(FileKind::Tiff, 1, 1, "one"));
  EXPECT_EQ(o.made.path, o.dir.path("one.big.tif"));
  o.close();
  EXPECT_EQ(tiffVersionByte(o.dir.path("one.big.tif")), 43);
  EXPECT_NE(runCommand("tiffdump " + quote(o.dir.path("one.big.tif"))).find("Version: 0x2b"), std::string::npos);
}

// LZW can expand data by half, so the rule judges the worst case.
TEST(CreateOutput, LzwJudgedByWorstCaseSize) {
  Out o;
  // 2666600000 raw bytes, 3999900000 at worst: still classic.
  ASSERT_TRUE(o.create(FileKind::Tiff, 50000, 17777, "lzw-small", true));
  EXPECT_FALSE(o.made.bigTiff);
  o.close();
  // 2666700000 raw bytes, 4000050000 at worst: BigTIFF although raw is far below.
  ASSERT_TRUE(o.create(FileKind::Tiff, 50000, 17778, "lzw-large", true));
  EXPECT_TRUE(o.made.bigTiff);
  EXPECT_EQ(o.made.path, o.dir.path("lzw-large.big.tif"));
  o.close();
  ASSERT_TRUE(o.create(FileKind::Tiff, 50000, 17778, "plain", false));
  EXPECT_FALSE(o.made.bigTiff);
}

TEST(CreateOutput, KindsSetChannelsOrderAndExtension) {
  Out o(16);
  ASSERT_TRUE(o.create(FileKind::Kro, 10, 2, "k"));
  EXPECT_EQ(o.made.path, o.dir.path("k.kro"));
  EXPECT_EQ(o.writer().info().bytesPerPixel(), 8);
  EXPECT_EQ(o.writer().info().lineBytes(), 80u);
  EXPECT_FALSE(o.writer().info().littleEndian);
  o.close();

  Out o8;
  ASSERT_TRUE(o8.create(FileKind::Raw, 10, 2, "r"));
  EXPECT_EQ(o8.made.path, o8.dir.path("r.raw"));
  EXPECT_EQ(o8.writer().info().channels, 3);
  EXPECT_EQ(o8.writer().info().lineBytes(), 30u);
  EXPECT_TRUE(o8.writer().info().littleEndian);
}

TEST(CreateOutput, KroHeaderBytesExactly) {
  Out o(16);
  ASSERT_TRUE(o.create(FileKind::Kro, 20000, 3, "k"));
  o.close();
  const std::string b = readFile(o.dir.path("k.kro"));
  const std::string want("KRO\x01\x00\x00\x4E\x20\x00\x00\x00\x03\x00\x00\x00\x10\x00\x00\x00\x04", 20);
  EXPECT_EQ(b, want);
}

TEST(CreateOutput, OverwriteQuestionNoKeepsTheFileYesReplacesIt) {
  Out o;
  writeFile(o.dir.path("x.raw"), "old contents");
  EXPECT_FALSE(o.create(FileKind::Raw, 4, 3, "x"));
  EXPECT_EQ(o.h.questions, std::vector<std::string>{o.dir.path("x.raw")});
  EXPECT_EQ(o.made.message, o.dir.path("x.raw") + " exists and was not replaced");
  EXPECT_EQ(readFile(o.dir.path("x.raw")), "old contents");
  EXPECT_EQ(o.made.writer, nullptr);
  EXPECT_EQ(o.made.outcome, Outcome::Declined);

  o.h.answers = {true};
  ASSERT_TRUE(o.create(FileKind::Raw, 4, 3, "x"));
  o.close();
  EXPECT_EQ(fileSize(o.dir.path("x.raw")), 0);
  // Nothing of the replacement's temporary name stays behind.
  EXPECT_EQ(runCommand("ls " + quote(o.dir.dir())), "in.tif\nx.raw\n");
}

// Yes to the overwrite question must not leave the user with neither file.
TEST(CreateOutput, YesThenFailedCreationKeepsTheOldFile) {
  Out o;
  writeFile(o.dir.path("x.raw"), std::string(30, 'o'));
  // The old file stays until its replacement (36 bytes) is complete: room
  // that only counts the old file's space as reclaimable is not enough.
  setDiskFreeHookForTests([](const std::string&) { return int64_t{36 - 30 + 1}; });
  o.h.answers = {true};
  EXPECT_FALSE(o.create(FileKind::Raw, 4, 3, "x"));
  EXPECT_EQ(o.made.message.rfind("There is not enough space on the destination directory: ", 0), 0u) << o.made.message;
  EXPECT_EQ(readFile(o.dir.path("x.raw")), std::string(30, 'o'));
  setDiskFreeHookForTests([](const std::string&) { return int64_t{37}; });
  o.h.answers = {true};
  ASSERT_TRUE(o.create(FileKind::Raw, 4, 3, "x"));
  // Until it is finished the old file is there under its name.
  EXPECT_EQ(readFile(o.dir.path("x.raw")), std::string(30, 'o'));
  o.close();
  EXPECT_EQ(fileSize(o.dir.path("x.raw")), 0);  // the replacement: no rows were written

  // The creation itself fails (the name is a folder): the folder survives.
  setDiskFreeHookForTests([](const std::string&) { return int64_t{1} << 40; });
  ASSERT_EQ(::mkdir(o.dir.path("y.tif").c_str(), 0755), 0);
  writeFile(o.dir.path("y.tif/keep"), "k");
  o.h.answers = {true};
  EXPECT_FALSE(o.create(FileKind::Tiff, 4, 3, "y"));
  EXPECT_EQ(o.made.message, "Write to file error: Is a directory");
  EXPECT_EQ(readFile(o.dir.path("y.tif/keep")), "k");
  EXPECT_EQ(runCommand("ls " + quote(o.dir.dir())), "in.tif\nx.raw\ny.tif\n");
}

// A folder we may not write in is named in the reason (/sys refuses even root).
TEST(CreateOutput, PermissionDeniedNamesTheFolder) {
  Out o;
  if (!folderExists("/sys/kernel")) GTEST_SKIP() << "no /sys here";
  o.made = createOutput({"/sys/kernel/x", rawOut, 4, 3, 8, false, o.input.path}, o.h.context());
  EXPECT_EQ(o.made.writer, nullptr);
  // Permission denied, or a read-only file system where /sys is mounted so.
  const std::string& m = o.made.message;
  EXPECT_TRUE(m == "Write to file error: Permission denied (folder /sys/kernel/)" ||
              m == "Write to file error: Read-only file system (folder /sys/kernel/)")
      << m;
}

TEST(CreateOutput, NeverOverwritesTheInputReachedByAnyPath) {
  Out o;
  // The output of in.tif as TIFF into its own folder is in.tif itself.
  EXPECT_FALSE(o.create(FileKind::Tiff, 4, 3, "in"));
  EXPECT_EQ(o.made.message.rfind("Cannot overwrite input file: the output ", 0), 0u) << o.made.message;
  EXPECT_TRUE(o.h.questions.empty());
  // The same folder through a symbolic link.
  ASSERT_EQ(::symlink(o.dir.dir().c_str(), (o.dir.path("alias")).c_str()), 0);
  EXPECT_FALSE(o.create(FileKind::Tiff, 4, 3, "alias/in"));
  EXPECT_EQ(o.made.message.rfind("Cannot overwrite input file: the output ", 0), 0u) << o.made.message;
  EXPECT_EQ(fileSize(o.dir.path("in.tif")) > 0, true);
  o.input.path = o.dir.path("alias/./in.tif");
  EXPECT_FALSE(o.create(FileKind::Tiff, 4, 3, "in"));
  EXPECT_EQ(o.made.message.rfind("Cannot overwrite input file: the output ", 0), 0u) << o.made.message;
}

TEST(CreateOutput, FreeSpaceMustExceedTheSize) {
  Out o;
  setDiskFreeHookForTests([](const std::string&) { return int64_t{36}; });  // 4 x 3 x 3
  EXPECT_FALSE(o.create(FileKind::Raw, 4, 3, "eq"));
  EXPECT_EQ(o.made.message.rfind("There is not enough space on the destination directory: ", 0), 0u) << o.made.message;
  EXPECT_EQ(fileSize(o.dir.path("eq_4X3.raw")), -1);
  setDiskFreeHookForTests([](const std::string&) { return int64_t{37}; });
  EXPECT_TRUE(o.create(FileKind::Raw, 4, 3, "eq"));
}

// A reader we did not write checks the tags, one row per strip, and BigTIFF.
TEST(CreateOutput, TiffTagsAsWrittenReadByTiffdump) {
  for (bool lzw : {false, true}) {
    Out o(16);
    ASSERT_TRUE(o.create(FileKind::Tiff, 5, 3, "t", lzw));
    for (uint32_t row = 0; row < 3; ++row) {
      std::fill(o.writer().line(), o.writer().line() + o.writer().info().lineBytes(), uint8_t(row));
      ASSERT_TRUE(o.writer().writeRow());
    }
    o.close();
    int rc = 0;
    std::string dump = runCommand("tiffdump " + quote(o.dir.path("t.tif")), &rc);
    ASSERT_EQ(rc, 0) << dump;
    std::set<int> tags;
    std::istringstream in(dump);
    for (std::string line; std::getline(in, line);) {
      size_t open = line.find(" ("), close = line.find(") ");
      if (open != std::string::npos && close != std::string::npos && close > open && line.find('<') != std::string::npos)
        tags.insert(std::stoi(line.substr(open + 2, close - open - 2)));
    }
    EXPECT_EQ(tags, (std::set<int>{256, 257, 258, 259, 262, 273, 277, 278, 279, 282, 283, 284, 296}));
    EXPECT_EQ(tagValue(dump, "ImageWidth (256)"), "5");
    EXPECT_EQ(tagValue(dump, "ImageLength (257)"), "3");
    EXPECT_EQ(tagValue(dump, "BitsPerSample (258)"), "16 16 16");
    EXPECT_EQ(tagValue(dump, "SamplesPerPixel (277)"), "3");
    EXPECT_EQ(tagValue(dump, "RowsPerStrip (278)"), "1");
    EXPECT_EQ(tagValue(dump, "Compression (259)"), lzw ? "5" : "1");
    EXPECT_EQ(tagValue(dump, "PlanarConfig (284)"), "1");
    EXPECT_EQ(tagValue(dump, "Photometric (262)"), "2");
    EXPECT_EQ(tagValue(dump, "XResolution (282)"), "240");
    EXPECT_EQ(tagValue(dump, "YResolution (283)"), "240");
    EXPECT_EQ(tagValue(dump, "ResolutionUnit (296)"), "2");
    const std::string offsets = tagValue(dump, "StripOffsets (273)");
    EXPECT_EQ(std::count(offsets.begin(), offsets.end(), ' '), 2) << "one strip per row: " << offsets;
    Pixels back = readTiff(o.dir.path("t.tif"));
    for (uint32_t y = 0; y < 3; ++y) EXPECT_EQ(back.at(4, y, 2), uint16_t(y * 257));
  }
}

namespace {

// The file the library writes itself, a scanline at a time, with our tags.
std::string libraryLzwFile(const std::string& path, const Pixels& p, bool bigTiff) {
  TIFF* t = TIFFOpen(path.c_str(), bigTiff ? "w8" : "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(p.bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1u);
  TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_LZW));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 240.0);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 240.0);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_INCH));
  const std::string bytes = rawBytes(p);
  const size_t line = bytes.size() / p.height;
  for (uint32_t y = 0; y < p.height; ++y) TIFFWriteScanline(t, const_cast<char*>(bytes.data() + y * line), y, 0);
  TIFFClose(t);
  return readFile(path);
}

}  // namespace

// LZW strips compressed on every core: the file is byte for byte what the
// library writes on one, whatever the size, the bits and the TIFF flavour.
TEST(CreateOutput, LzwOnEveryCoreWritesTheLibrarysOwnBytes) {
  struct Size {
    uint32_t w, h;
  };
  for (Size size : {Size{1, 1}, Size{37, 5}, Size{2000, 150}}) {
    for (int bits : {8, 16}) {
      for (bool big : {false, true}) {
        SCOPED_TRACE(std::to_string(size.w) + "x" + std::to_string(size.h) + " " + std::to_string(bits) +
                     (big ? " big" : ""));
        Out o(bits);
        // Noise, then flat runs: long code tables and resets both occur.
        Pixels px = makePixels(size.w, size.h, bits, 3, size.w);
        for (size_t i = px.samples.size() / 2; i < px.samples.size(); ++i) px.samples[i] = uint16_t(i / 7000);
        o.forceBigTiff = big;
        ASSERT_TRUE(o.create(FileKind::Tiff, size.w, size.h, "ours", true));
        const std::string bytes = rawBytes(px);
        const size_t line = bytes.size() / size.h;
        for (uint32_t y = 0; y < size.h; ++y) {
          std::memcpy(o.writer().line(), bytes.data() + y * line, line);
          ASSERT_TRUE(o.writer().writeRow());
        }
        o.close();
        const std::string ours = readFile(o.made.path);
        EXPECT_TRUE(ours == libraryLzwFile(o.dir.path("library.tif"), px, big)) << ours.size();
      }
    }
  }
}

// Rows handed over together: a few gather in the buffer, a long run goes to
// the file from the caller's memory, and a classic or BigTIFF strip file,
// 8 or 16 bits, reads back as the rows given.
TEST(CreateOutput, RowsHandedOverTogetherAreTheRowsGiven) {
  for (int bits : {8, 16}) {
    for (bool big : {false, true}) {
      SCOPED_TRACE(std::to_string(bits) + (big ? " BigTIFF" : " classic"));
      Out o(bits);
      o.forceBigTiff = big;
      const Pixels px = makePixels(3000, 40, bits, 3, 9);
      const std::string bytes = rawBytes(px), gap(100, '\x5a');
      std::string memory;  // the rows 100 bytes apart, as in a wider input
      const size_t line = bytes.size() / 40;
      for (uint32_t y = 0; y < 40; ++y) memory += bytes.substr(y * line, line) + gap;
      ASSERT_TRUE(o.create(FileKind::Tiff, 3000, 40, "t"));
      const auto* at = reinterpret_cast<const uint8_t*>(memory.data());
      ASSERT_TRUE(o.writer().writeRows(at, line + 100, 2));
      ASSERT_TRUE(o.writer().writeRows(at + 2 * (line + 100), line + 100, 38));
      const std::string path = o.made.path;
      o.close();
      EXPECT_EQ(tiffVersionByte(path), big ? 43 : 42);
      EXPECT_TRUE(rawBytes(readTiff(path)) == bytes);
    }
  }
}
