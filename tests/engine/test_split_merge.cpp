#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "engine/setup.h"
#include "engine/torvel.h"
#include "engine/utils.h"
#include "testkit.h"

using namespace testkit;

namespace {

std::vector<std::string> Split(TRun& r, const std::string& input, uint32_t tw, uint32_t th, FileType type,
                               const std::string& dir) {
  EXPECT_TRUE(r.Select(input));
  r.SetOutput(type);
  std::vector<std::string> files;
  SplitFile(r.S, tw, th, files, dir, "");
  return files;
}

std::string Name(const std::string& path) { return FileNameOf(path); }

}  // namespace

TEST(Split, GridNamesOrderAndPixels) {
  TRun r;
  TPixels px = MakePixels(250, 170, 8, 3, 3);
  WriteRaw(r.Dir.Path("pano_250X170.raw"), px);
  ::mkdir(r.Dir.Path("t").c_str(), 0755);
  auto files = Split(r, r.Dir.Path("pano_250X170.raw"), 100, 80, FileType::RAW, r.Dir.Path("t/"));
  ASSERT_FALSE(r.S.Abort);
  ASSERT_EQ(files.size(), 9u);
  EXPECT_EQ(Name(files[0]), "pano_100X80_x1y1.raw");
  EXPECT_EQ(Name(files[2]), "pano_50X80_x3y1.raw");
  EXPECT_EQ(Name(files[3]), "pano_100X80_x1y2.raw");
  EXPECT_EQ(Name(files[8]), "pano_50X10_x3y3.raw");
  const uint32_t xs[] = {0, 100, 200}, ws[] = {100, 100, 50}, ys[] = {0, 80, 160}, hs[] = {80, 80, 10};
  for (int b = 0; b < 3; ++b)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(ReadFile(files[b * 3 + c]), RawBytes(Crop(px, xs[c], ys[b], ws[c], hs[b]))) << files[b * 3 + c];
  EXPECT_FALSE(r.S.ForceBigTiff);
  EXPECT_EQ(r.Rec.Matching("show:"), std::vector<std::string>{"170:"});
}

TEST(Split, StatusAfterTheSeventhLineAndOneTileForLargeSizes) {
  TRun r;
  WriteTiff(r.Dir.Path("p.tif"), MakePixels(25, 1700, 8, 3));
  ::mkdir(r.Dir.Path("t").c_str(), 0755);
  auto files = Split(r, r.Dir.Path("p.tif"), 10, 800, FileType::TIF, r.Dir.Path("t/"));
  ASSERT_FALSE(r.S.Abort);
  EXPECT_EQ(Name(files[8]), "p_5X100_x3y3.tif");
  EXPECT_EQ(r.Rec.Matching("status:").front(), "Processing row 1/3 (794)");
  EXPECT_EQ(r.Rec.Matching("update:").front(), "7");

  TRun one;
  WriteTiff(one.Dir.Path("q.tif"), MakePixels(300, 200, 16, 4));
  auto single = Split(one, one.Dir.Path("q.tif"), 5000, 5000, FileType::KRO4, one.Dir.Path(""));
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(Name(single[0]), "q_300X200_x1y1.kro");
  EXPECT_EQ(ReadFile(single[0]), KroBytes(MakePixels(300, 200, 16, 4)));
}

// Once tile (1, 1) is BigTIFF, every later tile is too; the mark is cleared after the run.
TEST(Split, BigTiffMarkCarriesToLaterTiles) {
  TRun r;
  // A sparse 16-bit RAW of 40000 x 40000 pixels: no data on disk.
  const std::string in = r.Dir.Path("huge_40000X40000.raw");
  int fd = ::open(in.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, int64_t{40000} * 40000 * 6), 0);
  ::close(fd);
  SetDiskFreeHookForTests([](const std::string&) { return int64_t{1} << 50; });
  r.Rec.AbortAtUpdate = 1;  // stop after the first seven lines
  auto files = Split(r, in, 30000, 30000, FileType::TIF, r.Dir.Path(""));
  SetDiskFreeHookForTests(nullptr);
  EXPECT_TRUE(r.S.Abort);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(Name(files[0]), "huge_30000X30000_x1y1.big.tif");
  // 10000 x 30000 x 6 bytes alone would be classic.
  EXPECT_EQ(Name(files[1]), "huge_10000X30000_x2y1.big.tif");
  EXPECT_FALSE(r.S.ForceBigTiff);
}

TEST(Split, DecliningATileEndsTheSplitAndKeepsEarlierTiles) {
  TRun r;
  WriteTiff(r.Dir.Path("p.tif"), MakePixels(20, 20, 8, 3));
  ::mkdir(r.Dir.Path("t").c_str(), 0755);
  WriteFile(r.Dir.Path("t/p_10X10_x2y2.raw"), "mine");
  auto files = Split(r, r.Dir.Path("p.tif"), 10, 10, FileType::RAW, r.Dir.Path("t/"));
  EXPECT_TRUE(r.S.Abort);
  EXPECT_EQ(r.Rec.ErrorsShown, std::vector<std::string>{"Cant't create file " + r.Dir.Path("t/p_10X10_x2y2")});
  EXPECT_EQ(files.size(), 3u);
  EXPECT_EQ(ReadFile(r.Dir.Path("t/p_10X10_x2y2.raw")), "mine");
  EXPECT_EQ(GetFileSize64(files[0]), 300);  // band 1 complete
  EXPECT_EQ(r.Rec.Events.back(), "hide");
}

TEST(Split, AbortInBandTwoLeavesBandOneComplete) {
  TRun r;
  WriteRaw(r.Dir.Path("p_30X40.raw"), MakePixels(30, 40, 8, 3));
  ::mkdir(r.Dir.Path("t").c_str(), 0755);
  r.Rec.AbortAtUpdate = 4;  // line 28: the middle of band 2 (rows 20..39)
  auto files = Split(r, r.Dir.Path("p_30X40.raw"), 15, 20, FileType::RAW, r.Dir.Path("t/"));
  EXPECT_TRUE(r.S.Abort);
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(GetFileSize64(files[0]), 15 * 20 * 3);
  EXPECT_EQ(GetFileSize64(files[1]), 15 * 20 * 3);
  EXPECT_LT(GetFileSize64(files[2]), 15 * 20 * 3);
  EXPECT_FALSE(r.S.InOpen);
}

// Split, then merge from the file list in shuffled order, gives the image back.
TEST(Merge, SplitThenShuffledMergeIsByteExact) {
  for (int bits : {8, 16}) {
    for (FileType tiles : {FileType::RAW, FileType::TIF, FileType::KRO4}) {
      SCOPED_TRACE(bits * 10 + int(tiles));
      TRun r;
      TPixels px = MakePixels(103, 71, bits, 3, 11);
      WriteRaw(r.Dir.Path("img_103X71.raw"), px);
      ::mkdir(r.Dir.Path("t").c_str(), 0755);
      ::mkdir(r.Dir.Path("m").c_str(), 0755);
      auto files = Split(r, r.Dir.Path("img_103X71.raw"), 25, 20, tiles, r.Dir.Path("t/"));
      ASSERT_FALSE(r.S.Abort);
      ASSERT_EQ(files.size(), 5u * 4u);
      std::shuffle(files.begin(), files.end(), std::mt19937(bits));
      TMergeGrid g = DeriveMergeGrid(files);
      ASSERT_TRUE(g.Ok);
      EXPECT_EQ(g.Cols, 5);
      EXPECT_EQ(g.Rows, 4);
      r.SetOutput(FileType::RAW);
      MergeTiles(r.S, 5, 4, files, r.Dir.Path("m/"));
      ASSERT_FALSE(r.S.Abort) << (r.Rec.ErrorsShown.empty() ? "" : r.Rec.ErrorsShown[0]);
      EXPECT_EQ(r.S.OutInfo.FileName, r.Dir.Path("m/img_103X71.raw"));
      EXPECT_EQ(ReadFile(r.S.OutInfo.FileName), RawBytes(px));
    }
  }
}

TEST(Merge, StatusRhythmAndSingleTileCopy) {
  TRun r;
  TPixels px = MakePixels(25, 1700, 8, 3);
  WriteTiff(r.Dir.Path("p.tif"), px);
  ::mkdir(r.Dir.Path("t").c_str(), 0755);
  auto files = Split(r, r.Dir.Path("p.tif"), 10, 800, FileType::RAW, r.Dir.Path("t/"));
  r.Rec.Events.clear();
  r.SetOutput(FileType::TIF);
  // Into the input's own folder the merged TIFF would be the input itself.
  MergeTiles(r.S, 3, 3, files, r.Dir.Path(""));
  EXPECT_TRUE(r.S.Abort);
  EXPECT_EQ(r.Prompt.Errors, std::vector<std::string>{"Cannot overwrite input file"});
  EXPECT_EQ(r.Rec.ErrorsShown, std::vector<std::string>{"Cannot create the file " + r.Dir.Path("p")});
  MergeTiles(r.S, 3, 3, files, r.Dir.Path("t/"));
  ASSERT_FALSE(r.S.Abort);
  EXPECT_EQ(r.Rec.Matching("status:").front(), "Processing row 1/3 (794)");
  EXPECT_EQ(ReadTiff(r.Dir.Path("t/p.tif")).Samples, px.Samples);

  TRun one;
  TPixels kro = MakePixels(30, 20, 8, 4);
  WriteKro(one.Dir.Path("a_30X20_x1y1.kro"), kro);
  one.SetOutput(FileType::TIF);
  MergeFiles(one.S, 1, 1, {one.Dir.Path("a_30X20_x1y1.kro")}, one.Dir.Path(""), "");
  ASSERT_FALSE(one.S.Abort);
  EXPECT_EQ(one.S.OutInfo.FileName, one.Dir.Path("a.tif"));
  TPixels back = ReadTiff(one.S.OutInfo.FileName);
  EXPECT_EQ(back.Channels, 3);
  EXPECT_EQ(back.Samples, WithChannels(kro, 3).Samples);
}

TEST(Merge, RefusedTilesLeaveNoOutput) {
  TRun r;
  TPixels t = MakePixels(10, 10, 8, 3);
  auto tile = [&](const std::string& name, const TPixels& p) {
    WriteRaw(r.Dir.Path(name), p);
    return r.Dir.Path(name);
  };
  std::vector<std::string> grid = {tile("g_10X10_x1y1.raw", t), tile("g_9X10_x2y1.raw", MakePixels(9, 10, 8, 3)),
                                   tile("g_10X10_x3y1.raw", t), tile("g_10X10_x1y2.raw", t),
                                   tile("g_10X10_x2y2.raw", t), tile("g_10X10_x3y2.raw", t)};
  ::mkdir(r.Dir.Path("m").c_str(), 0755);
  r.SetOutput(FileType::TIF);
  MergeTiles(r.S, 3, 2, grid, r.Dir.Path("m/"));
  EXPECT_TRUE(r.S.Abort);
  EXPECT_EQ(r.Rec.ErrorsShown, std::vector<std::string>{"Tile X=2 Y=1 is not valid"});
  EXPECT_EQ(RunCommand("ls " + Quote(r.Dir.Path("m"))), "");

  // A missing corner: nothing created, no progress shown.
  r.Rec.Events.clear();
  r.Rec.ErrorsShown.clear();
  std::vector<std::string> noCorner(grid.begin(), grid.end() - 1);
  MergeFiles(r.S, 3, 2, noCorner, r.Dir.Path("m/"), "");
  EXPECT_EQ(r.Rec.ErrorsShown, std::vector<std::string>{"Tile X=3 Y=2 is not valid"});
  EXPECT_TRUE(r.Rec.Matching("show:").empty());

  // A tile of another bit depth.
  r.Rec.ErrorsShown.clear();
  TPixels deep = MakePixels(10, 10, 16, 3);
  WriteRaw(r.Dir.Path("h_10X10_x1y1.raw"), t);
  WriteRaw(r.Dir.Path("h_10X10_x2y1.raw"), deep);
  MergeFiles(r.S, 2, 1, {r.Dir.Path("h_10X10_x1y1.raw"), r.Dir.Path("h_10X10_x2y1.raw")}, r.Dir.Path("m/"), "");
  EXPECT_TRUE(r.S.Abort);
  EXPECT_EQ(r.Rec.ErrorsShown, std::vector<std::string>{"Tile X=1 Y=1 is not valid"});
  EXPECT_EQ(RunCommand("ls " + Quote(r.Dir.Path("m"))), "");

  // A RAW tile whose size does not match its name: the probe's message, then the refusal.
  r.Rec.ErrorsShown.clear();
  r.Prompt.Messages.clear();
  WriteFile(r.Dir.Path("k_10X10_x1y1.raw"), "short");
  MergeFiles(r.S, 1, 1, {r.Dir.Path("k_10X10_x1y1.raw")}, r.Dir.Path("m/"), "");
  EXPECT_EQ(r.Prompt.Messages, std::vector<std::string>{"Invalid width, height or bits"});
  EXPECT_EQ(r.Rec.ErrorsShown, std::vector<std::string>{"Tile X=1 Y=1 is not valid"});
}

TEST(Merge, WiderLastColumnIsAcceptedAndAbortRemovesTheOutput) {
  TRun r;
  TPixels a = MakePixels(10, 8, 8, 3, 1), b = MakePixels(14, 8, 8, 3, 2);
  WriteRaw(r.Dir.Path("w_10X8_x1y1.raw"), a);
  WriteRaw(r.Dir.Path("w_14X8_x2y1.raw"), b);
  std::vector<std::string> files = {r.Dir.Path("w_14X8_x2y1.raw"), r.Dir.Path("w_10X8_x1y1.raw")};
  ::mkdir(r.Dir.Path("m").c_str(), 0755);
  r.SetOutput(FileType::RAW);
  MergeFiles(r.S, 2, 1, files, r.Dir.Path("m/"), "");
  ASSERT_FALSE(r.S.Abort);
  TPixels out = ReadRaw(r.S.OutInfo.FileName, 24, 8, 8);
  EXPECT_EQ(Name(r.S.OutInfo.FileName), "w_24X8.raw");
  EXPECT_EQ(Crop(out, 10, 0, 14, 8).Samples, b.Samples);

  DeleteFileIfExists(r.S.OutInfo.FileName);
  r.Rec.Updates = 0;
  r.Rec.AbortAtUpdate = 1;
  MergeFiles(r.S, 2, 1, files, r.Dir.Path("m/"), "");
  EXPECT_TRUE(r.S.Abort);
  EXPECT_EQ(RunCommand("ls " + Quote(r.Dir.Path("m"))), "");
}
