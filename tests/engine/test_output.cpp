#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "engine/torvel.h"
#include "engine/utils.h"
#include "testkit.h"

using namespace testkit;

namespace {

// A record whose input is a probed small TIFF, with a scripted prompt and
// unlimited free space unless a test says otherwise.
struct Out {
  TScratch Dir;
  TTorvel S;
  TScriptedPrompt Prompt;
  TRecorder Rec;
  explicit Out(int bits = 8) {
    S.Prompt = &Prompt;
    Rec.Attach(S);
    WriteTiff(Dir.Path("in.tif"), MakePixels(4, 3, bits, 3));
    S.InInfo.FileName = Dir.Path("in.tif");
    ProbeFile(S, false);
    SetDiskFreeHookForTests([](const std::string&) { return int64_t{1} << 50; });
  }
  ~Out() {
    CloseOutFile(S);
    SetDiskFreeHookForTests(nullptr);
  }
  bool Create(FileType type, uint32_t w, uint32_t h, const std::string& base, bool lzw = false) {
    S.OutInfo.ImageType = type;
    S.OutInfo.Width = w;
    S.OutInfo.Height = h;
    S.Lzw = lzw;
    return CreateOutFile(S, Dir.Path(base));
  }
};

// The value list of a tag in tiffdump's listing, e.g. "16 16 16".
std::string TagValue(const std::string& dump, const std::string& tag) {
  size_t at = dump.find(tag);
  if (at == std::string::npos) return "<missing>";
  size_t open = dump.find('<', at), close = dump.find('>', at);
  return dump.substr(open + 1, close - open - 1);
}

int TiffVersionByte(const std::string& path) { return static_cast<unsigned char>(ReadFile(path).at(2)); }

}  // namespace

TEST(CreateOutFile, BigTiffOnBothSidesOfTheThreshold) {
  Out o;
  // 50000 x 26666 x 3 = 3999900000 bytes: classic.
  ASSERT_TRUE(o.Create(FileType::TIF, 50000, 26666, "small"));
  EXPECT_FALSE(o.S.BigTiff);
  EXPECT_EQ(o.S.OutInfo.FileName, o.Dir.Path("small.tif"));
  CloseOutFile(o.S);
  EXPECT_EQ(TiffVersionByte(o.Dir.Path("small.tif")), 42);
  // 50000 x 26667 x 3 = 4000050000 bytes: BigTIFF.
  ASSERT_TRUE(o.Create(FileType::TIF, 50000, 26667, "large"));
  EXPECT_TRUE(o.S.BigTiff);
  EXPECT_EQ(o.S.OutInfo.FileName, o.Dir.Path("large.big.tif"));
  CloseOutFile(o.S);
  EXPECT_EQ(TiffVersionByte(o.Dir.Path("large.big.tif")), 43);
}

TEST(CreateOutFile, SixteenBitsHalveTheThresholdAndForceMakesAnyBig) {
  Out o(16);
  ASSERT_TRUE(o.Create(FileType::TIF, 50000, 13333, "a"));  // 3999900000 bytes
  EXPECT_FALSE(o.S.BigTiff);
  CloseOutFile(o.S);
  ASSERT_TRUE(o.Create(FileType::TIF, 50000, 13334, "b"));
  EXPECT_TRUE(o.S.BigTiff);
  CloseOutFile(o.S);
  o.S.ForceBigTiff = true;
  ASSERT_TRUE(o.Create(FileType::TIF, 1, 1, "one"));
  EXPECT_EQ(o.S.OutInfo.FileName, o.Dir.Path("one.big.tif"));
  CloseOutFile(o.S);
  EXPECT_EQ(TiffVersionByte(o.Dir.Path("one.big.tif")), 43);
  EXPECT_NE(RunCommand("tiffdump " + Quote(o.Dir.Path("one.big.tif"))).find("Version: 0x2b"), std::string::npos);
}

// LZW can expand data by half, so the rule judges the worst case.
TEST(CreateOutFile, LzwJudgedByWorstCaseSize) {
  Out o;
  // 2666600000 raw bytes, 3999900000 at worst: still classic.
  ASSERT_TRUE(o.Create(FileType::TIF, 50000, 17777, "lzw-small", true));
  EXPECT_FALSE(o.S.BigTiff);
  CloseOutFile(o.S);
  // 2666700000 raw bytes, 4000050000 at worst: BigTIFF although raw is far below.
  ASSERT_TRUE(o.Create(FileType::TIF, 50000, 17778, "lzw-large", true));
  EXPECT_TRUE(o.S.BigTiff);
  EXPECT_EQ(o.S.OutInfo.FileName, o.Dir.Path("lzw-large.big.tif"));
  CloseOutFile(o.S);
  ASSERT_TRUE(o.Create(FileType::TIF, 50000, 17778, "plain", false));
  EXPECT_FALSE(o.S.BigTiff);
}

TEST(CreateOutFile, KindsSetChannelsOrderAndExtension) {
  Out o(16);
  ASSERT_TRUE(o.Create(FileType::KRO4, 10, 2, "k"));
  EXPECT_EQ(o.S.OutInfo.FileName, o.Dir.Path("k.kro"));
  EXPECT_EQ(o.S.OutInfo.BytesPerPixel, 8);
  EXPECT_EQ(o.S.OutInfo.ScanLineSize, 80u);
  EXPECT_FALSE(o.S.OutInfo.IsLsb);
  CloseOutFile(o.S);

  Out o8;
  o8.S.InInfo.Channels = 4;
  ASSERT_TRUE(o8.Create(FileType::RAW, 10, 2, "r"));
  EXPECT_EQ(o8.S.OutInfo.FileName, o8.Dir.Path("r.raw"));
  EXPECT_EQ(o8.S.OutInfo.Channels, 3);
  EXPECT_EQ(o8.S.OutInfo.ScanLineSize, 30u);
  EXPECT_TRUE(o8.S.OutInfo.IsLsb);
}

TEST(CreateOutFile, KroHeaderBytesExactly) {
  Out o(16);
  ASSERT_TRUE(o.Create(FileType::KRO4, 20000, 3, "k"));
  CloseOutFile(o.S);
  const std::string b = ReadFile(o.Dir.Path("k.kro"));
  const std::string want("KRO\x01\x00\x00\x4E\x20\x00\x00\x00\x03\x00\x00\x00\x10\x00\x00\x00\x04", 20);
  EXPECT_EQ(b, want);
}

TEST(CreateOutFile, OverwriteQuestionNoKeepsTheFileYesReplacesIt) {
  Out o;
  WriteFile(o.Dir.Path("x.raw"), "old contents");
  EXPECT_FALSE(o.Create(FileType::RAW, 4, 3, "x"));
  EXPECT_EQ(o.Prompt.Questions, std::vector<std::string>{"Output file exists. Do you want to overwrite it?"});
  EXPECT_EQ(ReadFile(o.Dir.Path("x.raw")), "old contents");
  EXPECT_FALSE(o.S.OutOpen);

  o.Prompt.Answers = {true};
  ASSERT_TRUE(o.Create(FileType::RAW, 4, 3, "x"));
  CloseOutFile(o.S);
  EXPECT_EQ(GetFileSize64(o.Dir.Path("x.raw")), 0);
  // Nothing of the replacement's temporary name stays behind.
  EXPECT_EQ(RunCommand("ls " + Quote(o.Dir.Dir())), "in.tif\nx.raw\n");
}

// Yes to the overwrite question must not leave the user with neither file.
TEST(CreateOutFile, YesThenFailedCreationKeepsTheOldFile) {
  Out o;
  WriteFile(o.Dir.Path("x.raw"), std::string(30, 'o'));
  // Room only counting the old file's space as reclaimable: allowed.
  SetDiskFreeHookForTests([](const std::string&) { return int64_t{36 - 30 + 1}; });
  o.Prompt.Answers = {true};
  ASSERT_TRUE(o.Create(FileType::RAW, 4, 3, "x"));  // 36 bytes
  CloseOutFile(o.S);

  // Not enough room even so: refused, old file intact.
  WriteFile(o.Dir.Path("x.raw"), std::string(30, 'o'));
  SetDiskFreeHookForTests([](const std::string&) { return int64_t{5}; });
  o.Prompt.Answers = {true};
  EXPECT_FALSE(o.Create(FileType::RAW, 4, 3, "x"));
  EXPECT_EQ(o.Rec.ErrorsShown.back(), "There is not enough space on the destination directory");
  EXPECT_EQ(ReadFile(o.Dir.Path("x.raw")), std::string(30, 'o'));

  // The creation itself fails (the name is a folder): the folder survives.
  SetDiskFreeHookForTests([](const std::string&) { return int64_t{1} << 40; });
  ASSERT_EQ(::mkdir(o.Dir.Path("y.tif").c_str(), 0755), 0);
  WriteFile(o.Dir.Path("y.tif/keep"), "k");
  o.Prompt.Answers = {true};
  EXPECT_FALSE(o.Create(FileType::TIF, 4, 3, "y"));
  EXPECT_EQ(o.Prompt.Messages.back(), "Write to file error");
  EXPECT_EQ(o.S.ErrorText, "Write to file error");
  EXPECT_EQ(ReadFile(o.Dir.Path("y.tif/keep")), "k");
  EXPECT_EQ(RunCommand("ls " + Quote(o.Dir.Dir())), "in.tif\nx.raw\ny.tif\n");
}

TEST(CreateOutFile, NeverOverwritesTheInputReachedByAnyPath) {
  Out o;
  // The output of in.tif as TIFF into its own folder is in.tif itself.
  EXPECT_FALSE(o.Create(FileType::TIF, 4, 3, "in"));
  EXPECT_EQ(o.Prompt.Errors, std::vector<std::string>{"Cannot overwrite input file"});
  EXPECT_TRUE(o.Prompt.Questions.empty());
  // The same folder through a symbolic link.
  ASSERT_EQ(::symlink(o.Dir.Dir().c_str(), (o.Dir.Path("alias")).c_str()), 0);
  EXPECT_FALSE(o.Create(FileType::TIF, 4, 3, "alias/in"));
  EXPECT_EQ(o.Prompt.Errors.size(), 2u);
  EXPECT_EQ(GetFileSize64(o.Dir.Path("in.tif")) > 0, true);
  o.S.InInfo.FileName = o.Dir.Path("alias/./in.tif");
  EXPECT_FALSE(o.Create(FileType::TIF, 4, 3, "in"));
  EXPECT_EQ(o.Prompt.Errors.size(), 3u);
}

TEST(CreateOutFile, FreeSpaceMustExceedTheSize) {
  Out o;
  SetDiskFreeHookForTests([](const std::string&) { return int64_t{36}; });  // 4 x 3 x 3
  EXPECT_FALSE(o.Create(FileType::RAW, 4, 3, "eq"));
  EXPECT_EQ(o.Rec.ErrorsShown, std::vector<std::string>{"There is not enough space on the destination directory"});
  EXPECT_EQ(GetFileSize64(o.Dir.Path("eq_4X3.raw")), -1);
  SetDiskFreeHookForTests([](const std::string&) { return int64_t{37}; });
  EXPECT_TRUE(o.Create(FileType::RAW, 4, 3, "eq"));
}

// A reader we did not write checks the tags, one row per strip, and BigTIFF.
TEST(CreateOutFile, TiffTagsAsWrittenReadByTiffdump) {
  for (bool lzw : {false, true}) {
    Out o(16);
    ASSERT_TRUE(o.Create(FileType::TIF, 5, 3, "t", lzw));
    for (uint32_t row = 0; row < 3; ++row) {
      std::fill(o.S.OutInfo.ScanLine, o.S.OutInfo.ScanLine + o.S.OutInfo.ScanLineSize, uint8_t(row));
      ASSERT_EQ(WriteLine(o.S, row), 30);
    }
    CloseOutFile(o.S);
    int rc = 0;
    std::string dump = RunCommand("tiffdump " + Quote(o.Dir.Path("t.tif")), &rc);
    ASSERT_EQ(rc, 0) << dump;
    std::set<int> tags;
    std::istringstream in(dump);
    for (std::string line; std::getline(in, line);) {
      size_t open = line.find(" ("), close = line.find(") ");
      if (open != std::string::npos && close != std::string::npos && close > open && line.find('<') != std::string::npos)
        tags.insert(std::stoi(line.substr(open + 2, close - open - 2)));
    }
    EXPECT_EQ(tags, (std::set<int>{256, 257, 258, 259, 262, 273, 277, 278, 279, 282, 283, 284, 296}));
    EXPECT_EQ(TagValue(dump, "ImageWidth (256)"), "5");
    EXPECT_EQ(TagValue(dump, "ImageLength (257)"), "3");
    EXPECT_EQ(TagValue(dump, "BitsPerSample (258)"), "16 16 16");
    EXPECT_EQ(TagValue(dump, "SamplesPerPixel (277)"), "3");
    EXPECT_EQ(TagValue(dump, "RowsPerStrip (278)"), "1");
    EXPECT_EQ(TagValue(dump, "Compression (259)"), lzw ? "5" : "1");
    EXPECT_EQ(TagValue(dump, "PlanarConfig (284)"), "1");
    EXPECT_EQ(TagValue(dump, "Photometric (262)"), "2");
    EXPECT_EQ(TagValue(dump, "XResolution (282)"), "240");
    EXPECT_EQ(TagValue(dump, "YResolution (283)"), "240");
    EXPECT_EQ(TagValue(dump, "ResolutionUnit (296)"), "2");
    const std::string offsets = TagValue(dump, "StripOffsets (273)");
    EXPECT_EQ(std::count(offsets.begin(), offsets.end(), ' '), 2) << "one strip per row: " << offsets;
    TPixels back = ReadTiff(o.Dir.Path("t.tif"));
    for (uint32_t y = 0; y < 3; ++y) EXPECT_EQ(back.At(4, y, 2), uint16_t(y * 257));
  }
}
