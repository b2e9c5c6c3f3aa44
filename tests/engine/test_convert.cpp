#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/bytefile.h"
#include "engine/files.h"
#include "engine/operations.h"
#include "engine/reader.h"
#include "engine/rules.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

// Converts the selected input into `dir` and returns the output path.
std::string convert(Harness& r, const std::string& input, OutputFormat format, const std::string& dir) {
  EXPECT_TRUE(r.select(input)) << input;
  const RunResult result = convertImage({r.input, whole(r.input), format, dir}, r.context());
  EXPECT_TRUE(result.completed()) << input << ": " << result.message;
  return result.written.empty() ? "" : result.written.front();
}

}  // namespace

// RAW -> KRO -> TIFF -> LZW TIFF -> RAW gives the original bytes back.
TEST(Convert, RoundTripThroughEveryKindIsByteExact) {
  for (int bits : {8, 16}) {
    SCOPED_TRACE(bits);
    Harness r;
    Pixels px = makePixels(37, 23, bits, 3, 5);
    const std::string raw = r.dir.path("pano_37X23.raw");
    writeRaw(raw, px);
    std::string kro = convert(r, raw, kroOut, r.dir.path(""));
    EXPECT_EQ(kro, r.dir.path("pano.kro"));
    // Alpha is gained as full value and 16-bit samples are big-endian.
    EXPECT_EQ(readFile(kro), kroBytes(withChannels(px, 4)));
    ::mkdir(r.dir.path("t1").c_str(), 0755);
    ::mkdir(r.dir.path("t2").c_str(), 0755);
    ::mkdir(r.dir.path("back").c_str(), 0755);
    std::string tif = convert(r, kro, tiffOut, r.dir.path("t1/"));
    EXPECT_EQ(tif, r.dir.path("t1/pano.tif"));
    std::string lzw = convert(r, tif, lzwOut, r.dir.path("t2/"));
    std::string back = convert(r, lzw, rawOut, r.dir.path("back/"));
    EXPECT_EQ(back, r.dir.path("back/pano_37X23.raw"));
    EXPECT_EQ(readFile(back), readFile(raw));
    // The LZW file is LZW-compressed and holds the same pixels for another reader.
    EXPECT_NE(runCommand("tiffinfo " + quote(lzw)).find("LZW"), std::string::npos);
  }
}

TEST(Convert, FourChannelTiffLosesAlphaInRawAndKeepsItInKro) {
  Harness r;
  Pixels px = makePixels(9, 4, 16, 4, 2);
  writeTiff(r.dir.path("a.tif"), px, false, 8 /* deflate */, 3);
  std::string raw = convert(r, r.dir.path("a.tif"), rawOut, r.dir.dir());
  EXPECT_EQ(readFile(raw), rawBytes(withChannels(px, 3)));
  std::string kro = convert(r, r.dir.path("a.tif"), kroOut, r.dir.dir());
  EXPECT_EQ(readFile(kro), kroBytes(px));
}

TEST(Convert, CropTakesTheRectangleFromEveryKind) {
  Harness r;
  Pixels px = makePixels(50, 40, 8, 3, 9);
  Pixels px4 = makePixels(50, 40, 16, 4, 9);
  writeRaw(r.dir.path("r_50X40.raw"), px);
  writeTiff(r.dir.path("t.tif"), px);
  writeTiff(r.dir.path("big.tif"), px4, true, 5);
  writeKro(r.dir.path("k.kro"), px4);
  ::mkdir(r.dir.path("out").c_str(), 0755);
  for (const char* in : {"r_50X40.raw", "t.tif", "big.tif", "k.kro"}) {
    SCOPED_TRACE(in);
    ASSERT_TRUE(r.select(r.dir.path(in)));
    const RunResult result = cropImage({r.input, {7, 11, 13, 17}, rawOut, r.dir.path("out/")}, r.context());
    ASSERT_TRUE(result.completed());
    const Pixels& src = r.input.channels == 4 ? px4 : px;
    EXPECT_EQ(readFile(result.written.front()), rawBytes(crop(withChannels(src, 3), 7, 11, 13, 17)));
    removeFile(result.written.front());
  }
}

// The crop of 300 x 200 at (100, 500) reads the region's rows only, from a
// RAW and from a TIFF: one phase of 200 rows, the status counting down.
TEST(Convert, CropReadsOnlyTheRegionsRows) {
  for (const char* name : {"in_400X800.raw", "in.tif"}) {
    SCOPED_TRACE(name);
    Harness r;
    const Pixels px = makePixels(400, 800, 8, 3);
    std::string(name).back() == 'w' ? writeRaw(r.dir.path(name), px) : writeTiff(r.dir.path(name), px);
    ASSERT_TRUE(r.select(r.dir.path(name)));
    ::mkdir(r.dir.path("o").c_str(), 0755);
    ASSERT_TRUE(convertImage({r.input, {100, 500, 300, 200}, rawOut, r.dir.path("o/")}, r.context()).completed());
    EXPECT_EQ(r.recorder.matching("show:"), std::vector<std::string>{"200:"});
    const std::vector<std::string> statuses = r.recorder.matching("status:");
    ASSERT_EQ(statuses.size(), 200u);
    EXPECT_EQ(statuses.front(), "Saving lines... (200)");
    EXPECT_EQ(statuses.back(), "Saving lines... (1)");
    EXPECT_EQ(r.recorder.matching("update:").back(), "200");
    EXPECT_EQ(r.recorder.events.back(), "hide");
    EXPECT_EQ(readRaw(r.dir.path("o/in_300X200.raw"), 300, 200, 8).samples, crop(px, 100, 500, 300, 200).samples);
  }
}

TEST(Convert, CancelAnywhereLeavesNoOutput) {
  Harness r;
  writeRaw(r.dir.path("in_100X300.raw"), makePixels(100, 300, 8, 3));
  ::mkdir(r.dir.path("o").c_str(), 0755);
  for (OutputFormat format : {kroOut, tiffOut, rawOut}) {
    for (int at : {1, 4}) {
      ASSERT_TRUE(r.select(r.dir.path("in_100X300.raw")));
      r.recorder.rearm(at);
      const RunResult result = convertImage({r.input, {0, 100, 50, 150}, format, r.dir.path("o/")}, r.context());
      EXPECT_EQ(result.outcome, Outcome::Cancelled);
      EXPECT_EQ(runCommand("ls " + quote(r.dir.path("o"))), "");
    }
  }
}

// A short read is a read error: no output with stale bytes is ever complete.
TEST(Convert, TruncatedInputsStopWithReadErrorAndNoOutput) {
  Harness r;
  ::mkdir(r.dir.path("o").c_str(), 0755);
  // Lines missing at the end, cut after the probe (the name promises 10 lines; a KRO header promises 10 too).
  writeRaw(r.dir.path("short_10X10.raw"), makePixels(10, 10, 8, 3));
  writeKro(r.dir.path("half.kro"), makePixels(10, 10, 8, 4));
  const struct {
    const char* name;
    int64_t keep;
    const char* error;
  } cases[] = {{"short_10X10.raw", 30 * 7, "Read file error: row 7: the file ends before the row does"},
               {"half.kro", 20 + 40 * 9 + 20, "Read file error: row 9: the file ends before the row does"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    r.input = probeImage(r.dir.path(c.name));
    ASSERT_TRUE(r.input.accepted);
    ASSERT_EQ(::truncate(r.dir.path(c.name).c_str(), c.keep), 0);
    const RunResult result = convertImage({r.input, {0, 0, 10, 10}, tiffOut, r.dir.path("o/")}, r.context());
    EXPECT_EQ(result.outcome, Outcome::Failed);
    EXPECT_EQ(result.message, c.error);
    EXPECT_EQ(runCommand("ls " + quote(r.dir.path("o"))), "");
  }
}

// A refused input is refused with the probe's reason; a missing one is "File
// not found"; an empty region is said to be empty.
TEST(Convert, RefusalsCarryTheirReasons) {
  Harness r;
  writeFile(r.dir.path("bad.kro"), "KRX nothing");
  r.select(r.dir.path("bad.kro"));
  RunResult result = convertImage({r.input, {0, 0, 1, 1}, tiffOut, r.dir.dir()}, r.context());
  EXPECT_EQ(result.outcome, Outcome::Refused);
  EXPECT_EQ(result.message, "KRO Header error");
  EXPECT_TRUE(r.recorder.matching("show:").empty());
  writeTiff(r.dir.path("a.tif"), makePixels(4, 4, 8, 3));
  ASSERT_TRUE(r.select(r.dir.path("a.tif")));
  result = convertImage({r.input, {0, 0, 0, 4}, rawOut, r.dir.dir()}, r.context());
  EXPECT_EQ(result.message, "The region to copy is empty: it must be at least one pixel wide and high");
  removeFile(r.dir.path("a.tif"));
  result = convertImage({r.input, {0, 0, 4, 4}, rawOut, r.dir.dir()}, r.context());
  EXPECT_EQ(result.message, "File not found");
  EXPECT_EQ(r.listing(), "bad.kro\n");
}

TEST(Convert, DecliningToOverwriteWritesNothingAndIsNoSuccess) {
  Harness r;
  writeTiff(r.dir.path("a.tif"), makePixels(4, 4, 8, 3));
  writeFile(r.dir.path("a.kro"), "precious");
  ASSERT_TRUE(r.select(r.dir.path("a.tif")));
  const RunResult result = convertImage({r.input, {0, 0, 4, 4}, kroOut, r.dir.dir()}, r.context());
  EXPECT_EQ(result.outcome, Outcome::Declined);
  EXPECT_EQ(readFile(r.dir.path("a.kro")), "precious");
  EXPECT_EQ(r.questions, std::vector<std::string>{r.dir.path("a.kro")});
}

TEST(Convert, FullDiskFailsTheWriteAndRemovesTheOutput) {
  // Small and large enough to fail inside the line loop and at the close.
  for (uint32_t side : {64u, 400u}) {
    for (OutputFormat format : {rawOut, kroOut, tiffOut}) {
      SCOPED_TRACE(std::to_string(side) + " " + kindText(format.kind));
      Harness r;
      writeTiff(r.dir.path("a.tif"), makePixels(side, side, 8, 3));
      ASSERT_TRUE(r.select(r.dir.path("a.tif")));
      ByteFile::setWriteBudgetForTests(side * 3 * 10 + 5);
      ::mkdir(r.dir.path("o").c_str(), 0755);
      const RunResult result = convertImage({r.input, whole(r.input), format, r.dir.path("o/")}, r.context());
      ByteFile::setWriteBudgetForTests(-1);
      EXPECT_EQ(result.outcome, Outcome::Failed);
      EXPECT_EQ(result.message, "Write to file error: No space left on device");
      EXPECT_EQ(runCommand("ls " + quote(r.dir.path("o"))), "");
    }
  }
}

// A full disk while an existing output is replaced keeps the old file; a
// split that runs out of room keeps only tiles it completed.
TEST(Convert, FullDiskKeepsTheReplacedFileAndOnlyCompleteTiles) {
  Harness r;
  writeTiff(r.dir.path("a.tif"), makePixels(200, 90, 8, 3));
  ASSERT_TRUE(r.select(r.dir.path("a.tif")));
  ::mkdir(r.dir.path("o").c_str(), 0755);
  writeFile(r.dir.path("o/a.kro"), "the user's earlier result");
  r.answers = {true};
  ByteFile::setWriteBudgetForTests(200 * 4 * 30);
  RunResult result = convertImage({r.input, whole(r.input), kroOut, r.dir.path("o/")}, r.context());
  EXPECT_EQ(result.outcome, Outcome::Failed);
  EXPECT_EQ(runCommand("ls -A " + quote(r.dir.path("o"))), "a.kro\n");
  EXPECT_EQ(readFile(r.dir.path("o/a.kro")), "the user's earlier result");

  // Room for the first band of 50 x 40 tiles (4 x 6000 bytes) and half a tile.
  ByteFile::setWriteBudgetForTests(4 * 50 * 40 * 3 + 3000);
  result = splitImage({r.input, 50, 40, rawOut, r.dir.path("o/")}, r.context());
  ByteFile::setWriteBudgetForTests(-1);
  EXPECT_EQ(result.outcome, Outcome::Failed);
  EXPECT_EQ(result.written.size(), 4u);
  EXPECT_EQ(runCommand("ls -A " + quote(r.dir.path("o"))),
            "a.kro\na_50X40_x1y1.raw\na_50X40_x2y1.raw\na_50X40_x3y1.raw\na_50X40_x4y1.raw\n");
}

// An output folder removed during the run: a failure that says so, never a success.
TEST(Convert, RemovedOutputFolderIsAFailure) {
  struct Remover : Recorder {
    std::string folder;
    void progressed(const Progress& progress) override {
      Recorder::progressed(progress);
      if (!folder.empty()) runCommand("rm -rf " + quote(folder));
      folder.clear();
    }
  };
  for (OutputFormat format : {tiffOut, rawOut}) {
    Harness r;
    writeTiff(r.dir.path("a.tif"), makePixels(30, 40, 8, 3));
    ASSERT_TRUE(r.select(r.dir.path("a.tif")));
    Remover remover;
    remover.folder = r.dir.path("o");
    ::mkdir(remover.folder.c_str(), 0755);
    const RunResult result = convertImage({r.input, whole(r.input), format, r.dir.path("o/")}, RunContext(&remover));
    EXPECT_EQ(result.outcome, Outcome::Failed);
    EXPECT_EQ(result.message, "Write to file error: the output folder " + r.dir.path("o/") + " disappeared");
    EXPECT_FALSE(folderExists(r.dir.path("o")));
  }
}

// The original words first, in the original order of the checks; then the
// edge passed and the image's size.
TEST(SetUp, CropChecksInOrder) {
  const auto begins = [](const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; };
  EXPECT_EQ(cropRefusal(1000, 800, 999, 0, 1, 1), "");
  EXPECT_TRUE(begins(cropRefusal(1000, 800, 1000, 0, 1, 1), "X must >= 0 and < 1000: "));
  EXPECT_TRUE(begins(cropRefusal(1000, 800, 0, 800, 1, 1), "Y must >= 0 and < 800: "));
  EXPECT_EQ(cropRefusal(1000, 800, 500, 0, 501, 1),
            "Width must > 0 and <= 500: from x = 500, 501 pixels reach past the right edge of the 1000 × 800 image");
  EXPECT_EQ(cropRefusal(1000, 800, 0, 100, 1, 700), "");
  EXPECT_TRUE(begins(cropRefusal(1000, 800, 0, 100, 1, 701), "Height must > 0 and <= 700: "));
  EXPECT_TRUE(begins(cropRefusal(1000, 800, 1000, 900, 5000, 5000), "X must >= 0 and < 1000: "));

  Harness r;
  writeTiff(r.dir.path("a.tif"), makePixels(10, 10, 8, 3));
  ASSERT_TRUE(r.select(r.dir.path("a.tif")));
  const RunResult result = cropImage({r.input, {5, 0, 6, 1}, rawOut, r.dir.dir()}, r.context());
  EXPECT_EQ(result.outcome, Outcome::Refused);
  EXPECT_EQ(result.message.rfind("Width must > 0 and <= 5: ", 0), 0u) << result.message;
  EXPECT_EQ(r.listing(), "a.tif\n");
}

TEST(SetUp, OutputFolderAndSplitFitting) {
  Scratch d;
  EXPECT_EQ(outputFolder("", "/in/a.tif"), "/in/");
  EXPECT_EQ(outputFolder(d.path("gone"), "/in/a.tif"), "/in/");
  std::string dir = d.dir().substr(0, d.dir().size() - 1);
  EXPECT_EQ(outputFolder(dir, "/in/a.tif"), dir + "/");
  EXPECT_EQ(outputFolder("", ""), "");
  EXPECT_EQ(tileCount(2500, 1000), 3u);
  EXPECT_EQ(tileCount(1700, 800), 3u);
  EXPECT_EQ(tileCount(2500, 1250), 2u);
  EXPECT_EQ(fitSplitTile(1000, 800), 800u);
  EXPECT_EQ(fitSplitTile(35000, 40000), 30000u);
  EXPECT_EQ(resizeHeight(40000, 20000, 1000), 500);
  EXPECT_EQ(resizeHeight(3000, 2001, 1000), 667);
  EXPECT_EQ(resizeHeight(2000, 1001, 1000), 500);  // halfway goes to even
  EXPECT_EQ(resizeHeight(2000, 1003, 1000), 502);
  EXPECT_EQ(mergeCountRefusal(9, 8), "One or more files are missing.\nPlease select 9 files");
  EXPECT_EQ(mergeCountRefusal(9, 10), "Too many files selected.\nPlease select 9 files");
  EXPECT_EQ(mergeCountRefusal(9, 9), "");
}

// Progress starting after a cancel or a failure does not make the run a
// success: the outcome is the run's own, whatever the reports did.
TEST(RunOutcome, ReportsCannotTurnACancelOrAFailureIntoASuccess) {
  Harness r;
  writeRaw(r.dir.path("in_20X10.raw"), makePixels(20, 10, 8, 3));
  writeFile(r.dir.path("in.tif"), "the user's earlier result");
  ASSERT_TRUE(r.select(r.dir.path("in_20X10.raw")));
  // The user answers Yes to the overwrite question and, while it is still
  // open, asks the run to stop.
  const RunContext yesThenCancel(&r.recorder, r.recorder.stop.get_token(), Overwrite::Ask, [&](const std::vector<std::string>&) {
    r.recorder.stop.request_stop();
    return true;
  });
  RunResult result = convertImage({r.input, whole(r.input), tiffOut, r.dir.dir()}, yesThenCancel);
  EXPECT_EQ(result.outcome, Outcome::Cancelled);
  EXPECT_TRUE(result.written.empty());
  EXPECT_EQ(readFile(r.dir.path("in.tif")), "the user's earlier result");

  // A read failure with every report still arriving.
  writeRaw(r.dir.path("cut_20X10.raw"), makePixels(20, 10, 8, 3));
  r.recorder.rearm();
  r.input = probeImage(r.dir.path("cut_20X10.raw"));
  ::truncate(r.dir.path("cut_20X10.raw").c_str(), 60 * 4);
  ::mkdir(r.dir.path("o").c_str(), 0755);
  result = convertImage({r.input, whole(r.input), tiffOut, r.dir.path("o/")}, r.context());
  EXPECT_EQ(result.outcome, Outcome::Failed);
  EXPECT_EQ(result.message, "Read file error: row 4: the file ends before the row does");
  EXPECT_EQ(r.recorder.events.back(), "hide");
  EXPECT_EQ(runCommand("ls " + quote(r.dir.path("o"))), "");
}
