#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/setup.h"
#include "engine/torvel.h"
#include "engine/utils.h"
#include "testkit.h"

using namespace testkit;

namespace {

// Converts the selected input into `dir` and returns the output path.
std::string Convert(TRun& r, const std::string& input, FileType type, bool lzw, const std::string& dir) {
  EXPECT_TRUE(r.Select(input)) << input;
  r.SetOutput(type, lzw);
  ConvertFile(r.S, 0, 0, int32_t(r.S.InInfo.Width), int32_t(r.S.InInfo.Height), dir, "");
  EXPECT_FALSE(r.S.Abort) << input;
  return r.S.OutInfo.FileName;
}

}  // namespace

// RAW -> KRO -> TIFF -> LZW TIFF -> RAW gives the original bytes back.
TEST(Convert, RoundTripThroughEveryKindIsByteExact) {
  for (int bits : {8, 16}) {
    SCOPED_TRACE(bits);
    TRun r;
    TPixels px = MakePixels(37, 23, bits, 3, 5);
    const std::string raw = r.Dir.Path("pano_37X23.raw");
    WriteRaw(raw, px);
    std::string kro = Convert(r, raw, FileType::KRO4, false, r.Dir.Path(""));
    EXPECT_EQ(kro, r.Dir.Path("pano.kro"));
    // Alpha is gained as full value and 16-bit samples are big-endian.
    EXPECT_EQ(ReadFile(kro), KroBytes(WithChannels(px, 4)));
    ::mkdir(r.Dir.Path("t1").c_str(), 0755);
    ::mkdir(r.Dir.Path("t2").c_str(), 0755);
    ::mkdir(r.Dir.Path("back").c_str(), 0755);
    std::string tif = Convert(r, kro, FileType::TIF, false, r.Dir.Path("t1/"));
    EXPECT_EQ(tif, r.Dir.Path("t1/pano.tif"));
    std::string lzw = Convert(r, tif, FileType::TIF, true, r.Dir.Path("t2/"));
    std::string back = Convert(r, lzw, FileType::RAW, false, r.Dir.Path("back/"));
    EXPECT_EQ(back, r.Dir.Path("back/pano_37X23.raw"));
    EXPECT_EQ(ReadFile(back), ReadFile(raw));
    // The LZW file is LZW-compressed and holds the same pixels for another reader.
    EXPECT_NE(RunCommand("tiffinfo " + Quote(lzw)).find("LZW"), std::string::npos);
  }
}

TEST(Convert, FourChannelTiffLosesAlphaInRawAndKeepsItInKro) {
  TRun r;
  TPixels px = MakePixels(9, 4, 16, 4, 2);
  WriteTiff(r.Dir.Path("a.tif"), px, false, 8 /* deflate */, 3);
  std::string raw = Convert(r, r.Dir.Path("a.tif"), FileType::RAW, false, r.Dir.Dir());
  EXPECT_EQ(ReadFile(raw), RawBytes(WithChannels(px, 3)));
  std::string kro = Convert(r, r.Dir.Path("a.tif"), FileType::KRO4, false, r.Dir.Dir());
  EXPECT_EQ(ReadFile(kro), KroBytes(px));
}

TEST(Convert, CropTakesTheRectangleFromEveryKind) {
  TRun r;
  TPixels px = MakePixels(50, 40, 8, 3, 9);
  TPixels px4 = MakePixels(50, 40, 16, 4, 9);
  WriteRaw(r.Dir.Path("r_50X40.raw"), px);
  WriteTiff(r.Dir.Path("t.tif"), px);
  WriteTiff(r.Dir.Path("big.tif"), px4, true, 5);
  WriteKro(r.Dir.Path("k.kro"), px4);
  ::mkdir(r.Dir.Path("out").c_str(), 0755);
  for (const char* in : {"r_50X40.raw", "t.tif", "big.tif", "k.kro"}) {
    SCOPED_TRACE(in);
    ASSERT_TRUE(r.Select(r.Dir.Path(in)));
    r.SetOutput(FileType::RAW);
    CropFile(r.S, 7, 11, 13, 17, r.Dir.Path("out/"));
    ASSERT_FALSE(r.S.Abort);
    const TPixels& src = r.S.InInfo.Channels == 4 ? px4 : px;
    EXPECT_EQ(ReadFile(r.S.OutInfo.FileName), RawBytes(Crop(WithChannels(src, 3), 7, 11, 13, 17)));
    DeleteFileIfExists(r.S.OutInfo.FileName);
  }
}

// The crop of 300 x 200 at (100, 500) from a RAW input: skipping then saving,
// with the progress positions and status texts counting down.
TEST(Convert, CropProgressAndStatusRhythm) {
  TRun r;
  WriteRaw(r.Dir.Path("in_400X800.raw"), MakePixels(400, 800, 8, 3));
  ASSERT_TRUE(r.Select(r.Dir.Path("in_400X800.raw")));
  r.SetOutput(FileType::RAW);
  ::mkdir(r.Dir.Path("o").c_str(), 0755);
  ConvertFile(r.S, 100, 500, 300, 200, r.Dir.Path("o/"), "");
  ASSERT_FALSE(r.S.Abort);
  EXPECT_EQ(r.Rec.Matching("show:"), std::vector<std::string>{"700:"});
  std::vector<std::string> statuses = r.Rec.Matching("status:");
  ASSERT_EQ(statuses.size(), 1u + 500 + 200);
  EXPECT_EQ(statuses[0], "");
  EXPECT_EQ(statuses[1], "Skipping lines... (500)");
  EXPECT_EQ(statuses[500], "Skipping lines... (1)");
  EXPECT_EQ(statuses[501], "Saving lines... (200)");
  EXPECT_EQ(statuses[700], "Saving lines... (1)");
  std::vector<std::string> updates = r.Rec.Matching("update:");
  ASSERT_GE(updates.size(), 11u);
  EXPECT_EQ(updates[0], "0");
  EXPECT_EQ(updates[9], "450");
  EXPECT_EQ(updates[10], "504");  // first copied row that moves the bar
  EXPECT_EQ(updates.back(), "693");
  EXPECT_EQ(r.Rec.Events.back(), "hide");
  EXPECT_EQ(GetFileSize64(r.Dir.Path("o/in_300X200.raw")), 300 * 200 * 3);

  // The same crop from a TIFF reads rows 500 to 699 only: nothing is skipped.
  TRun t;
  WriteTiff(t.Dir.Path("in.tif"), MakePixels(400, 800, 8, 3));
  ASSERT_TRUE(t.Select(t.Dir.Path("in.tif")));
  t.SetOutput(FileType::RAW);
  ConvertFile(t.S, 100, 500, 300, 200, t.Dir.Dir(), "");
  std::vector<std::string> tst = t.Rec.Matching("status:");
  ASSERT_EQ(tst.size(), 201u);
  EXPECT_EQ(tst[1], "Saving lines... (200)");
  EXPECT_EQ(t.Rec.Matching("update:").front(), "504");
}

TEST(Convert, AbortAnywhereLeavesNoOutput) {
  TRun r;
  WriteRaw(r.Dir.Path("in_100X300.raw"), MakePixels(100, 300, 8, 3));
  ::mkdir(r.Dir.Path("o").c_str(), 0755);
  for (FileType type : {FileType::KRO4, FileType::TIF, FileType::RAW}) {
    for (int at : {1 /* while skipping */, 4 /* while copying */}) {
      ASSERT_TRUE(r.Select(r.Dir.Path("in_100X300.raw")));
      r.SetOutput(type);
      r.Rec.Updates = 0;
      r.Rec.AbortAtUpdate = at;
      ConvertFile(r.S, 0, 100, 50, 150, r.Dir.Path("o/"), "");
      EXPECT_TRUE(r.S.Abort);
      EXPECT_EQ(RunCommand("ls " + Quote(r.Dir.Path("o"))), "");
      EXPECT_TRUE(r.Rec.ErrorsShown.empty());
    }
  }
}

// A short read is a read error: no output with stale bytes is ever complete.
TEST(Convert, TruncatedInputsStopWithReadErrorAndNoOutput) {
  TRun r;
  ::mkdir(r.Dir.Path("o").c_str(), 0755);
  std::string bytes = RawBytes(MakePixels(10, 10, 8, 3));
  // Lines missing at the end (the name promises 10 lines; a KRO header promises 10 too).
  WriteFile(r.Dir.Path("short_10X10.raw"), bytes.substr(0, 30 * 7));
  WriteFile(r.Dir.Path("half.kro"), KroBytes(MakePixels(10, 10, 8, 4)).substr(0, 20 + 40 * 9 + 20));
  for (const char* name : {"short_10X10.raw", "half.kro"}) {
    SCOPED_TRACE(name);
    r.Rec.ErrorsShown.clear();
    r.S.InInfo = TFileInfo{};
    r.S.InInfo.FileName = r.Dir.Path(name);
    // The RAW no longer matches its name, so take its geometry as the dialog would.
    r.Prompt.RawAnswer = true;
    r.Prompt.RawWidth = 10;
    r.Prompt.RawHeight = 10;
    r.Prompt.RawBits = 8;
    ProbeFile(r.S, true);
    ASSERT_TRUE(r.S.InInfo.ImageIsOk);
    r.SetOutput(FileType::TIF);
    ConvertFile(r.S, 0, 0, 10, 10, r.Dir.Path("o/"), "");
    EXPECT_TRUE(r.S.Abort);
    EXPECT_EQ(r.Rec.ErrorsShown, std::vector<std::string>{"Read file error"});
    EXPECT_EQ(RunCommand("ls " + Quote(r.Dir.Path("o"))), "");
  }
}

TEST(Convert, RefusedInputIsFileNotFound) {
  TRun r;
  WriteFile(r.Dir.Path("bad.kro"), "KRX nothing");
  r.Select(r.Dir.Path("bad.kro"));
  r.SetOutput(FileType::TIF);
  ConvertFile(r.S, 0, 0, 1, 1, r.Dir.Dir(), "");
  EXPECT_TRUE(r.S.Abort);
  EXPECT_EQ(r.Rec.ErrorsShown, std::vector<std::string>{"File not found"});
  EXPECT_TRUE(r.Rec.Matching("show:").empty());
}

TEST(Convert, DecliningToOverwriteWritesNothingAndKeepsAbort) {
  TRun r;
  WriteTiff(r.Dir.Path("a.tif"), MakePixels(4, 4, 8, 3));
  WriteFile(r.Dir.Path("a.kro"), "precious");
  ASSERT_TRUE(r.Select(r.Dir.Path("a.tif")));
  r.SetOutput(FileType::KRO4);
  for (bool before : {false, true}) {
    r.S.Abort = before;
    ConvertFile(r.S, 0, 0, 4, 4, r.Dir.Dir(), "");
    EXPECT_EQ(r.S.Abort, before);
    EXPECT_EQ(ReadFile(r.Dir.Path("a.kro")), "precious");
    EXPECT_TRUE(r.Rec.ErrorsShown.empty());
  }
}

TEST(Convert, FullDiskFailsTheWriteAndRemovesTheOutput) {
  // Small and large enough to fail inside the line loop and at the close.
  for (uint32_t side : {64u, 400u}) {
    for (FileType type : {FileType::RAW, FileType::KRO4, FileType::TIF}) {
      SCOPED_TRACE(std::to_string(side) + " " + std::to_string(int(type)));
      TRun r;
      WriteTiff(r.Dir.Path("a.tif"), MakePixels(side, side, 8, 3));
      ASSERT_TRUE(r.Select(r.Dir.Path("a.tif")));
      r.SetOutput(type);
      TByteFile::SetWriteBudgetForTests(side * 3 * 10 + 5);
      ::mkdir(r.Dir.Path("o").c_str(), 0755);
      ConvertFile(r.S, 0, 0, int32_t(side), int32_t(side), r.Dir.Path("o/"), "");
      TByteFile::SetWriteBudgetForTests(-1);
      EXPECT_TRUE(r.S.Abort);
      EXPECT_EQ(r.Rec.ErrorsShown, std::vector<std::string>{"Write to file error"});
      EXPECT_EQ(RunCommand("ls " + Quote(r.Dir.Path("o"))), "");
    }
  }
}

TEST(SetUp, CropChecksInOrder) {
  EXPECT_EQ(CropCheckMessage(1000, 800, 999, 0, 1, 1), "");
  EXPECT_EQ(CropCheckMessage(1000, 800, 1000, 0, 1, 1), "X must >= 0 and < 1000");
  EXPECT_EQ(CropCheckMessage(1000, 800, 0, 800, 1, 1), "Y must >= 0 and < 800");
  EXPECT_EQ(CropCheckMessage(1000, 800, 500, 0, 501, 1), "Width must > 0 and <= 500");
  EXPECT_EQ(CropCheckMessage(1000, 800, 0, 100, 1, 700), "");
  EXPECT_EQ(CropCheckMessage(1000, 800, 0, 100, 1, 701), "Height must > 0 and <= 700");
  EXPECT_EQ(CropCheckMessage(1000, 800, 1000, 900, 5000, 5000), "X must >= 0 and < 1000");

  TRun r;
  WriteTiff(r.Dir.Path("a.tif"), MakePixels(10, 10, 8, 3));
  ASSERT_TRUE(r.Select(r.Dir.Path("a.tif")));
  r.SetOutput(FileType::RAW);
  CropFile(r.S, 5, 0, 6, 1, r.Dir.Dir());
  EXPECT_TRUE(r.S.Abort);
  EXPECT_EQ(r.Rec.ErrorsShown, std::vector<std::string>{"Width must > 0 and <= 5"});
  EXPECT_EQ(r.Listing(), "a.tif\n");
}

TEST(SetUp, OutputFolderAndSplitFitting) {
  TScratch d;
  EXPECT_EQ(GetOutputFolder("", "/in/a.tif"), "/in/");
  EXPECT_EQ(GetOutputFolder(d.Path("gone"), "/in/a.tif"), "/in/");
  std::string dir = d.Dir().substr(0, d.Dir().size() - 1);
  EXPECT_EQ(GetOutputFolder(dir, "/in/a.tif"), dir + "/");
  EXPECT_EQ(GetOutputFolder("", ""), "");
  EXPECT_EQ(TileCount(2500, 1000), 3u);
  EXPECT_EQ(TileCount(1700, 800), 3u);
  EXPECT_EQ(TileCount(2500, 1250), 2u);
  EXPECT_EQ(FitSplitTile(1000, 800), 800u);
  EXPECT_EQ(FitSplitTile(35000, 40000), 30000u);
  EXPECT_EQ(ResizeHeight(40000, 20000, 1000), 500);
  EXPECT_EQ(ResizeHeight(3000, 2001, 1000), 667);
  EXPECT_EQ(ResizeHeight(2000, 1001, 1000), 500);  // halfway goes to even
  EXPECT_EQ(ResizeHeight(2000, 1003, 1000), 502);
  EXPECT_EQ(MergeCountMessage(9, 8), "One or more files are missing.\r\nPlease select 9 files");
  EXPECT_EQ(MergeCountMessage(9, 10), "Too many files selected.\r\nPlease select 9 files");
  EXPECT_EQ(MergeCountMessage(9, 9), "");
}
