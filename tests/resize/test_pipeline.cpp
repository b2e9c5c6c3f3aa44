#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "engine/files.h"
#include "engine/rules.h"
#include "resize/pipeline.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

struct Size {
  uint32_t w, h;
  bool operator==(const Size& o) const { return w == o.w && h == o.h; }
};

// The pass geometry alone: the size after each pass and the final size,
// as the pipeline would produce them, without touching a file.
std::vector<Size> plan(uint32_t W, uint32_t H, uint32_t RW, bool fast) {
  const uint32_t RH = static_cast<uint32_t>(resizeHeight(W, H, RW));
  const uint32_t threshold = fast ? RW : 2 * RW;
  std::vector<Size> sizes;
  for (int guard = 0; guard < 10; ++guard) {
    const uint32_t TW = passTileSize(W), TH = passTileSize(H);
    uint32_t cols = tileCount(W, TW), rows = tileCount(H, TH);
    if (withinTwoPercent(W, H, RW, RH)) cols = rows = 0;
    if (cols <= 1 && rows <= 1) {
      long double D;
      if (directScalingDue(W, H, RW, TW, D)) {
        W = static_cast<uint32_t>(roundDiv(W, D));
        H = static_cast<uint32_t>(roundDiv(H, D));
      }
      sizes.push_back({W, H});
      return sizes;
    }
    const long double div = passDivider(W, RW, threshold);
    uint32_t nw = 0, nh = 0;
    for (uint32_t c = 1; c <= cols; ++c)
      nw += static_cast<uint32_t>(roundDiv(c == cols && W % TW ? W % TW : TW, div));
    for (uint32_t r = 1; r <= rows; ++r)
      nh += static_cast<uint32_t>(roundDiv(r == rows && H % TH ? H % TH : TH, div));
    W = nw;
    H = nh;
    sizes.push_back({W, H});
  }
  return sizes;
}

void sparse(const std::string& path, int64_t bytes) {
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, bytes), 0);
  ::close(fd);
}

}  // namespace

TEST(ResizeGeometry, TileWidening) {
  EXPECT_EQ(passTileSize(20500), 10251u);
  EXPECT_EQ(passTileSize(25500), 10000u);
  EXPECT_EQ(passTileSize(10000), 10000u);
  EXPECT_EQ(passTileSize(10999), 10999u);
  EXPECT_EQ(passTileSize(5000), 5000u);
  EXPECT_EQ(tileCount(20500, 10251), 2u);
  EXPECT_EQ(tileCount(25500, 10000), 3u);
}

TEST(ResizeGeometry, WorkedExamples) {
  EXPECT_EQ(passDivider(100000, 5000, 10000), 10.0L);
  EXPECT_EQ(plan(100000, 50000, 5000, false), (std::vector<Size>{{10000, 5000}, {5000, 2500}}));
  EXPECT_EQ(plan(100000, 50000, 5000, true), (std::vector<Size>{{10000, 5000}, {5000, 2500}}));
  EXPECT_EQ(passDivider(60000, 5000, 10000), 6.0L);
  EXPECT_EQ(plan(60000, 30000, 5000, false), (std::vector<Size>{{10002, 5001}, {5000, 2500}}));
  EXPECT_EQ(passDivider(30000, 20000, 20000), 1.5L);
  EXPECT_EQ(plan(30000, 20000, 20000, true), (std::vector<Size>{{20001, 13334}, {20001, 13334}}));
  EXPECT_EQ(plan(20000, 10000, 19700, false), (std::vector<Size>{{20000, 10000}}));
  // A change of 100 pixels or fewer on one side: converted unscaled.
  EXPECT_EQ(plan(10500, 5000, 10390, false), (std::vector<Size>{{10500, 5000}}));
  // One million pixels to 1000: two passes and the final scaling.
  EXPECT_EQ(plan(1000000, 20000, 1000, true).size(), 3u);
  EXPECT_TRUE(withinTwoPercent(50000, 100, 49000, 0));
  EXPECT_FALSE(withinTwoPercent(50000, 100, 48999, 0));
  long double D;
  EXPECT_TRUE(directScalingDue(10002, 5001, 5000, 10002, D));
  EXPECT_EQ(roundDiv(10002, D), 5000);
  EXPECT_EQ(roundDiv(5001, D), 2500);
}

// The pipeline with a recorder, into a separate output folder.
struct ResizeRun {
  Harness r;
  ResizeRequest request;
  std::string in, out;
  ResizeRun() {
    ::mkdir(r.dir.path("in").c_str(), 0755);
    ::mkdir(r.dir.path("out").c_str(), 0755);
    out = r.dir.path("out");
    request.chosenFolder = out;
  }
  RunResult run(uint32_t rw, bool fast, OutputFormat format = rawOut, Recorder* observer = nullptr) {
    EXPECT_TRUE(r.select(in));
    request.input = r.input;
    request.width = rw;
    request.height = static_cast<uint32_t>(resizeHeight(r.input.width, r.input.height, rw));
    request.fast = fast;
    request.format = format;
    Recorder& o = observer ? *observer : r.recorder;
    return resizeImage(request, RunContext(&o, &r.prompt, o.stop.get_token()));
  }
  std::string outListing() { return runCommand("ls -A " + quote(out)); }
  std::string inListing() { return runCommand("ls -A " + quote(r.dir.path("in"))); }
};

// Cancels at the first progress report of the given phase, the nth time it begins.
struct PhaseCanceller : Recorder {
  std::string phase;
  int occurrence = 1, seen = 0;
  bool inPhase = false;
  PhaseCanceller(const char* p, int n) : phase(p), occurrence(n) {}
  void progressBegin(int64_t max, const std::string& caption) override {
    Recorder::progressBegin(max, caption);
    inPhase = caption == phase && ++seen == occurrence;
  }
  void progress(int64_t position) override {
    Recorder::progress(position);
    if (inPhase) stop.request_stop();
  }
};

TEST(ResizePipeline, RefusalsBeforeAnythingIsWritten) {
  ResizeRun r;
  r.in = r.r.dir.path("in/small_9999X9999.raw");
  sparse(r.in, int64_t{9999} * 9999 * 3);
  EXPECT_EQ(r.run(1000, true).outcome, Outcome::Refused);
  EXPECT_EQ(r.r.prompt.errors, std::vector<std::string>{"Width and height of the input file must be > 10000"});
  r.request.chosenFolder.clear();  // beside the input, same kind
  r.r.prompt.errors.clear();
  r.run(1000, true);
  EXPECT_EQ(r.r.prompt.errors, std::vector<std::string>{"Cannot overwrite input file"});
  EXPECT_EQ(r.inListing(), "small_9999X9999.raw\n");
  EXPECT_EQ(r.outListing(), "");
}

// A multi-pass run with a split pass, through the real workers.
TEST(ResizePipeline, SplitPassThenDirectScaling) {
  for (bool fast : {true, false}) {
    SCOPED_TRACE(fast);
    ResizeRun r;
    r.in = r.r.dir.path("in/wide_20500X2200.raw");
    writeRaw(r.in, makePixels(20500, 2200, 8, 3, 7));
    const RunResult result = r.run(1000, fast);
    ASSERT_TRUE(result.completed()) << result.message;
    EXPECT_EQ(r.outListing(), "wide_1000X107.raw\n");
    EXPECT_EQ(r.inListing(), "wide_20500X2200.raw\n");
    std::vector<std::string> shows = r.r.recorder.matching("show:");
    EXPECT_EQ(shows.front(), "2200:Step 1/4");
    EXPECT_EQ(shows[1], "4:Step 2/4");
    EXPECT_EQ(shows[2], "220:Step 3/4");
    EXPECT_EQ(shows.back(), "107:Step 4/4");
    EXPECT_FALSE(folderExists(r.out + "/" + resizeTempFolderName));
  }
}

TEST(ResizePipeline, SixteenBitInputsResizeAtSixteenBits) {
  ResizeRun r;
  r.in = r.r.dir.path("in/deep.tif");
  writeTiff(r.in, makePixels(10050, 150, 16, 3, 5));
  ASSERT_TRUE(r.run(1000, false, tiffOut).completed());
  EXPECT_EQ(r.outListing(), "deep.tif\n");
  Pixels out = readTiff(r.out + "/deep.tif");
  EXPECT_EQ(out.bits, 16);
  EXPECT_EQ(out.width, 1000u);
  EXPECT_EQ(out.height, 15u);
  EXPECT_EQ(r.inListing(), "deep.tif\n");
}

TEST(ResizePipeline, CancelDuringTileWorkLeavesNothing) {
  ResizeRun r;
  r.in = r.r.dir.path("in/wide_20500X300.raw");
  writeRaw(r.in, makePixels(20500, 300, 8, 3));
  PhaseCanceller canceller("Step 2/4", 1);  // the first worker has just been handed its tile
  EXPECT_EQ(r.run(1000, false, rawOut, &canceller).outcome, Outcome::Cancelled);
  EXPECT_EQ(canceller.matching("status:").back(), "Killing processes...");
  EXPECT_EQ(r.outListing(), "");
  EXPECT_EQ(r.inListing(), "wide_20500X300.raw\n");
}

TEST(ResizePipeline, CancelDuringTheSecondMergeLeavesNothing) {
  ResizeRun r;
  r.in = r.r.dir.path("in/huge_110000X700.raw");
  sparse(r.in, int64_t{110000} * 700 * 3);
  PhaseCanceller canceller("Step 3/4", 2);
  EXPECT_EQ(r.run(1000, true, rawOut, &canceller).outcome, Outcome::Cancelled);
  EXPECT_EQ(canceller.seen, 2);
  EXPECT_EQ(r.outListing(), "");
  EXPECT_EQ(r.inListing(), "huge_110000X700.raw\n");
}

TEST(ResizePipeline, UnscaledWhenRequestedWidthIsNotSmaller) {
  ResizeRun r;
  r.in = r.r.dir.path("in/p_10100X20.raw");
  Pixels px = makePixels(10100, 20, 8, 3);
  writeRaw(r.in, px);
  ASSERT_TRUE(r.run(10200, true, kroOut).completed());
  EXPECT_EQ(readFile(r.out + "/p.kro"), kroBytes(withChannels(px, 4)));
}
