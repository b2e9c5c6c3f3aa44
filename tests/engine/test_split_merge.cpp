#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

#include "engine/files.h"
#include "engine/operations.h"
#include "engine/rules.h"
#include "engine/tilenames.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

// Splits the input; the tiles written, and the run's result in `result`.
std::vector<std::string> split(Harness& r, const std::string& input, uint32_t tw, uint32_t th, OutputFormat format,
                               const std::string& dir, RunResult* result = nullptr) {
  EXPECT_TRUE(r.select(input));
  RunResult run = splitImage({r.input, tw, th, format, dir}, r.context());
  if (result) *result = run;
  return run.written;
}

std::string name(const std::string& path) { return fileNameOf(path); }

RunResult merge(Harness& r, uint32_t columns, uint32_t rows, const std::vector<std::string>& files, OutputFormat format,
                const std::string& dir) {
  return mergeSelectedTiles({files, columns, rows, format, dir, r.input.path}, r.context());
}

}  // namespace

TEST(Split, GridNamesOrderAndPixels) {
  Harness r;
  Pixels px = makePixels(250, 170, 8, 3, 3);
  writeRaw(r.dir.path("pano_250X170.raw"), px);
  ::mkdir(r.dir.path("t").c_str(), 0755);
  RunResult result;
  auto files = split(r, r.dir.path("pano_250X170.raw"), 100, 80, rawOut, r.dir.path("t/"), &result);
  ASSERT_TRUE(result.completed());
  ASSERT_EQ(files.size(), 9u);
  EXPECT_EQ(name(files[0]), "pano_100X80_x1y1.raw");
  EXPECT_EQ(name(files[2]), "pano_50X80_x3y1.raw");
  EXPECT_EQ(name(files[3]), "pano_100X80_x1y2.raw");
  EXPECT_EQ(name(files[8]), "pano_50X10_x3y3.raw");
  const uint32_t xs[] = {0, 100, 200}, ws[] = {100, 100, 50}, ys[] = {0, 80, 160}, hs[] = {80, 80, 10};
  for (int b = 0; b < 3; ++b)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(readFile(files[b * 3 + c]), rawBytes(crop(px, xs[c], ys[b], ws[c], hs[b]))) << files[b * 3 + c];
  EXPECT_EQ(r.recorder.matching("show:"), std::vector<std::string>{"170:"});
}

// Tiles whose share of a run of rows is large take it with one write
// straight from the input's buffer, narrow ones row by row; a band that
// ends inside a run starts the next band's tiles from there.
TEST(Split, WideTilesTakeRunsOfRowsAsTheyAre) {
  Harness r;
  const Pixels rgb = makePixels(9000, 40, 8, 3, 5), rgba = makePixels(9000, 40, 8, 4, 6);
  writeRaw(r.dir.path("w_9000X40.raw"), rgb);
  writeKro(r.dir.path("w.kro"), rgba);
  const std::pair<std::string, OutputFormat> jobs[] = {
      {"w_9000X40.raw", rawOut}, {"w_9000X40.raw", tiffOut}, {"w.kro", kroOut}};
  for (const auto& [input, format] : jobs) {
    const std::string dir = r.dir.path(std::string(kindText(format.kind)) + "/");
    ::mkdir(dir.c_str(), 0755);
    RunResult result;
    const auto files = split(r, r.dir.path(input), 4000, 15, format, dir, &result);
    ASSERT_TRUE(result.completed()) << result.message;
    ASSERT_EQ(files.size(), 9u);
    for (uint32_t i = 0; i < 9; ++i) {
      const Pixels& px = format.kind == FileKind::Kro ? rgba : rgb;
      const Pixels want = crop(px, i % 3 * 4000, i / 3 * 15, i % 3 == 2 ? 1000 : 4000, i / 3 == 2 ? 10 : 15);
      const std::string got = format.kind == FileKind::Raw   ? readFile(files[i])
                              : format.kind == FileKind::Kro ? kroBytes(readKro(files[i]))
                                                             : rawBytes(readTiff(files[i]));
      EXPECT_TRUE(got == (format.kind == FileKind::Kro ? kroBytes(want) : rawBytes(want))) << files[i];
    }
  }
}

TEST(Split, StatusOfTheFirstBandAndOneTileForLargeSizes) {
  Harness r;
  writeTiff(r.dir.path("p.tif"), makePixels(25, 1700, 8, 3));
  ::mkdir(r.dir.path("t").c_str(), 0755);
  RunResult result;
  auto files = split(r, r.dir.path("p.tif"), 10, 800, tiffOut, r.dir.path("t/"), &result);
  ASSERT_TRUE(result.completed());
  EXPECT_EQ(name(files[8]), "p_5X100_x3y3.tif");
  EXPECT_EQ(r.recorder.matching("status:").front(), "Processing row 1/3 (800)");
  EXPECT_EQ(r.recorder.matching("status:").back(), "Processing row 3/3 (1)");
  EXPECT_EQ(r.recorder.matching("update:").back(), "1700");

  Harness one;
  writeTiff(one.dir.path("q.tif"), makePixels(300, 200, 16, 4));
  auto single = split(one, one.dir.path("q.tif"), 5000, 5000, kroOut, one.dir.path(""));
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(name(single[0]), "q_300X200_x1y1.kro");
  EXPECT_EQ(readFile(single[0]), kroBytes(makePixels(300, 200, 16, 4)));
}

// Once tile (1, 1) is BigTIFF, every later tile is too; the mark is cleared after the run.
TEST(Split, BigTiffMarkCarriesToLaterTiles) {
  Harness r;
  // A sparse 16-bit RAW of 40000 x 40000 pixels: no data on disk.
  const std::string in = r.dir.path("huge_40000X40000.raw");
  int fd = ::open(in.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, int64_t{40000} * 40000 * 6), 0);
  ::close(fd);
  setDiskFreeHookForTests([](const std::string&) { return int64_t{1} << 50; });
  // Stops after the first seven lines, noting the tiles being written then.
  struct Lister : Recorder {
    std::string dir, seen;
    void progressed(const Progress& progress) override {
      Recorder::progressed(progress);
      if (stop.stop_requested() && seen.empty()) seen = runCommand("ls -A " + quote(dir) + " | sed 's/.torvel-.*//'");
    }
  } lister;
  lister.dir = r.dir.path("");
  lister.rearm(1);
  ASSERT_TRUE(r.select(in));
  const RunResult result =
      splitImage({r.input, 30000, 30000, tiffOut, r.dir.path("")}, RunContext(&lister, lister.stop.get_token()));
  setDiskFreeHookForTests(nullptr);
  EXPECT_EQ(result.outcome, Outcome::Cancelled);
  // 10000 x 30000 x 6 bytes alone would be classic.
  EXPECT_EQ(lister.seen, ".huge_10000X30000_x2y1.big.tif\n.huge_30000X30000_x1y1.big.tif\nhuge_40000X40000.raw\n");
  EXPECT_TRUE(result.written.empty());  // the unfinished band is removed
  EXPECT_EQ(r.listing(), "huge_40000X40000.raw\n");
}

// Existing tiles are asked about once, before any tile is written: declined,
// nothing is written; accepted, every one is replaced without a second word.
TEST(Split, ExistingTilesAreAskedAboutOnceBeforeAnythingIsWritten) {
  Harness r;
  writeTiff(r.dir.path("p.tif"), makePixels(20, 20, 8, 3));
  ::mkdir(r.dir.path("t").c_str(), 0755);
  writeFile(r.dir.path("t/p_10X10_x2y2.raw"), "mine");
  writeFile(r.dir.path("t/p_10X10_x1y1.raw"), "mine too");
  RunResult result;
  auto files = split(r, r.dir.path("p.tif"), 10, 10, rawOut, r.dir.path("t/"), &result);
  EXPECT_EQ(result.outcome, Outcome::Declined);
  EXPECT_EQ(result.message, "2 output files exist in " + r.dir.path("t/") + " and were not replaced");
  EXPECT_EQ(r.questions, (std::vector<std::string>{r.dir.path("t/p_10X10_x1y1.raw"), r.dir.path("t/p_10X10_x2y2.raw")}));
  EXPECT_TRUE(files.empty());
  EXPECT_EQ(runCommand("ls -A " + quote(r.dir.path("t"))), "p_10X10_x1y1.raw\np_10X10_x2y2.raw\n");
  r.questions.clear();
  r.answers = {true};
  files = split(r, r.dir.path("p.tif"), 10, 10, rawOut, r.dir.path("t/"), &result);
  EXPECT_TRUE(result.completed()) << result.message;
  EXPECT_EQ(r.questions.size(), 2u);  // one question, both names
  EXPECT_EQ(files.size(), 4u);
  EXPECT_EQ(fileSize(r.dir.path("t/p_10X10_x2y2.raw")), 300);
}

TEST(Split, CancelInBandTwoLeavesBandOneComplete) {
  Harness r;
  writeRaw(r.dir.path("p_30X40.raw"), makePixels(30, 40, 8, 3));
  ::mkdir(r.dir.path("t").c_str(), 0755);
  r.recorder.rearm(28);  // line 28: the middle of band 2 (rows 20..39)
  RunResult result;
  auto files = split(r, r.dir.path("p_30X40.raw"), 15, 20, rawOut, r.dir.path("t/"), &result);
  EXPECT_EQ(result.outcome, Outcome::Cancelled);
  // Band 1 complete, nothing of band 2: no tile is left short under its name.
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(fileSize(files[0]), 15 * 20 * 3);
  EXPECT_EQ(fileSize(files[1]), 15 * 20 * 3);
  EXPECT_EQ(runCommand("ls -A " + quote(r.dir.path("t"))), "p_15X20_x1y1.raw\np_15X20_x2y1.raw\n");
}

// Split, then merge from the file list in shuffled order, gives the image back.
TEST(Merge, SplitThenShuffledMergeIsByteExact) {
  for (int bits : {8, 16}) {
    for (OutputFormat tiles : {rawOut, tiffOut, kroOut}) {
      SCOPED_TRACE(std::to_string(bits) + kindText(tiles.kind));
      Harness r;
      Pixels px = makePixels(103, 71, bits, 3, 11);
      writeRaw(r.dir.path("img_103X71.raw"), px);
      ::mkdir(r.dir.path("t").c_str(), 0755);
      ::mkdir(r.dir.path("m").c_str(), 0755);
      RunResult result;
      auto files = split(r, r.dir.path("img_103X71.raw"), 25, 20, tiles, r.dir.path("t/"), &result);
      ASSERT_TRUE(result.completed());
      ASSERT_EQ(files.size(), 5u * 4u);
      std::shuffle(files.begin(), files.end(), std::mt19937(bits));
      MergeGrid g = mergeGridOf(files);
      ASSERT_TRUE(g.ok);
      EXPECT_EQ(g.columns, 5);
      EXPECT_EQ(g.rows, 4);
      result = merge(r, 5, 4, files, rawOut, r.dir.path("m/"));
      ASSERT_TRUE(result.completed()) << result.message;
      EXPECT_EQ(result.written.front(), r.dir.path("m/img_103X71.raw"));
      EXPECT_EQ(readFile(result.written.front()), rawBytes(px));
    }
  }
}

TEST(Merge, StatusAndSingleTileCopy) {
  Harness r;
  Pixels px = makePixels(25, 1700, 8, 3);
  writeTiff(r.dir.path("p.tif"), px);
  ::mkdir(r.dir.path("t").c_str(), 0755);
  auto files = split(r, r.dir.path("p.tif"), 10, 800, rawOut, r.dir.path("t/"));
  r.recorder.events.clear();
  // Into the input's own folder the merged TIFF would be the input itself.
  RunResult result = merge(r, 3, 3, files, tiffOut, r.dir.path(""));
  EXPECT_EQ(result.outcome, Outcome::Refused);
  EXPECT_EQ(result.message, "Cannot create the file " + r.dir.path("p.tif") + ": " + replacesInputText(r.dir.path("p.tif")));
  ASSERT_TRUE(merge(r, 3, 3, files, tiffOut, r.dir.path("t/")).completed());
  EXPECT_EQ(r.recorder.matching("status:").front(), "Processing row 1/3 (800)");
  EXPECT_EQ(readTiff(r.dir.path("t/p.tif")).samples, px.samples);

  Harness one;
  Pixels kro = makePixels(30, 20, 8, 4);
  writeKro(one.dir.path("a_30X20_x1y1.kro"), kro);
  result = mergeTiles({{one.dir.path("a_30X20_x1y1.kro")}, 1, 1, tiffOut, one.dir.path(""), ""}, one.context());
  ASSERT_TRUE(result.completed());
  EXPECT_EQ(result.written.front(), one.dir.path("a.tif"));
  Pixels back = readTiff(result.written.front());
  EXPECT_EQ(back.channels, 3);
  EXPECT_EQ(back.samples, withChannels(kro, 3).samples);
}

TEST(Merge, RefusedTilesLeaveNoOutput) {
  Harness r;
  // Nothing to merge says so.
  EXPECT_EQ(mergeTiles({{}, 1, 1, tiffOut, r.dir.dir(), ""}, r.context()).message, "No tiles were selected to merge");
  EXPECT_EQ(mergeTiles({{r.dir.path("a_X1Y1.tif")}, 0, 1, tiffOut, r.dir.dir(), ""}, r.context()).message,
            "The grid of the tiles is empty: give its columns and rows");
  Pixels t = makePixels(10, 10, 8, 3);
  auto tile = [&](const std::string& name, const Pixels& p) {
    writeRaw(r.dir.path(name), p);
    return r.dir.path(name);
  };
  std::vector<std::string> grid = {tile("g_10X10_x1y1.raw", t), tile("g_9X10_x2y1.raw", makePixels(9, 10, 8, 3)),
                                   tile("g_10X10_x3y1.raw", t), tile("g_10X10_x1y2.raw", t),
                                   tile("g_10X10_x2y2.raw", t), tile("g_10X10_x3y2.raw", t)};
  ::mkdir(r.dir.path("m").c_str(), 0755);
  RunResult result = merge(r, 3, 2, grid, tiffOut, r.dir.path("m/"));
  EXPECT_EQ(result.outcome, Outcome::Refused);
  EXPECT_EQ(result.message,
            "Tile X=2 Y=1 is not valid: it is 9 × 10 at 8 bits, where 10 × 10 at 8 bits belong");
  EXPECT_EQ(runCommand("ls " + quote(r.dir.path("m"))), "");

  // A missing corner: nothing created, no progress shown.
  r.recorder.events.clear();
  std::vector<std::string> noCorner(grid.begin(), grid.end() - 1);
  result = mergeTiles({noCorner, 3, 2, tiffOut, r.dir.path("m/"), ""}, r.context());
  EXPECT_EQ(result.message, "Tile X=3 Y=2 is not valid: no file was selected for it");
  EXPECT_TRUE(r.recorder.matching("show:").empty());

  // A tile of another bit depth.
  Pixels deep = makePixels(10, 10, 16, 3);
  writeRaw(r.dir.path("h_10X10_x1y1.raw"), t);
  writeRaw(r.dir.path("h_10X10_x2y1.raw"), deep);
  const RunResult deepResult = mergeTiles(
      {{r.dir.path("h_10X10_x1y1.raw"), r.dir.path("h_10X10_x2y1.raw")}, 2, 1, tiffOut, r.dir.path("m/"), ""},
      r.context());
  EXPECT_EQ(deepResult.outcome, Outcome::Refused);
  EXPECT_EQ(deepResult.message, "Tile X=1 Y=1 is not valid: it is 10 × 10 at 8 bits, where 10 × 10 at 16 bits belong");
  EXPECT_EQ(runCommand("ls " + quote(r.dir.path("m"))), "");

  // A RAW tile whose size does not match its name: the refusal says so.
  writeFile(r.dir.path("k_10X10_x1y1.raw"), "short");
  result = mergeTiles({{r.dir.path("k_10X10_x1y1.raw")}, 1, 1, tiffOut, r.dir.path("m/"), ""}, r.context());
  EXPECT_EQ(result.message, "Tile X=1 Y=1 is not valid: The size in the name of " + r.dir.path("k_10X10_x1y1.raw") +
                                " does not match its 5 bytes");
}

TEST(Merge, WiderLastColumnIsAcceptedAndCancelRemovesTheOutput) {
  Harness r;
  Pixels a = makePixels(10, 8, 8, 3, 1), b = makePixels(14, 8, 8, 3, 2);
  writeRaw(r.dir.path("w_10X8_x1y1.raw"), a);
  writeRaw(r.dir.path("w_14X8_x2y1.raw"), b);
  std::vector<std::string> files = {r.dir.path("w_14X8_x2y1.raw"), r.dir.path("w_10X8_x1y1.raw")};
  ::mkdir(r.dir.path("m").c_str(), 0755);
  RunResult result = mergeTiles({files, 2, 1, rawOut, r.dir.path("m/"), ""}, r.context());
  ASSERT_TRUE(result.completed());
  Pixels out = readRaw(result.written.front(), 24, 8, 8);
  EXPECT_EQ(name(result.written.front()), "w_24X8.raw");
  EXPECT_EQ(crop(out, 10, 0, 14, 8).samples, b.samples);

  removeFile(result.written.front());
  r.recorder.rearm(1);
  result = mergeTiles({files, 2, 1, rawOut, r.dir.path("m/"), ""}, r.context());
  EXPECT_EQ(result.outcome, Outcome::Cancelled);
  EXPECT_EQ(runCommand("ls " + quote(r.dir.path("m"))), "");
}
