#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "engine/files.h"
#include "engine/rules.h"
#include "engine/runtexts.h"
#include "resize/pipeline.h"
#include "resize/plan.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

struct Size {
  uint32_t w, h;
  bool operator==(const Size& o) const { return w == o.w && h == o.h; }
};

// The size after each pass and the final size, as the plan gives them.
std::vector<Size> plan(uint32_t w, uint32_t h, uint32_t requestedWidth, bool fast) {
  const auto requestedHeight = static_cast<uint32_t>(resizeHeight(w, h, requestedWidth));
  const ResizePlan p = planResize(w, h, 3, 8, requestedWidth, requestedHeight, fast);
  std::vector<Size> sizes;
  for (const ResizePass& pass : p.passes) sizes.push_back({pass.outputWidth, pass.outputHeight});
  sizes.push_back({p.finalWidth, p.finalHeight});
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
  RunResult run(uint32_t rw, bool fast, OutputFormat format = rawOut, Recorder* observer = nullptr,
                bool probe = true) {
    if (probe) {
      EXPECT_TRUE(r.select(in));
    }
    request.input = r.input;
    request.width = rw;
    request.height = static_cast<uint32_t>(resizeHeight(r.input.width, r.input.height, rw));
    request.fast = fast;
    request.format = format;
    Recorder& o = observer ? *observer : r.recorder;
    return resizeImage(request, RunContext(&o, o.stop.get_token()));
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
  void phaseStarted(const PhaseStart& start) override {
    Recorder::phaseStarted(start);
    inPhase = captionText(start) == phase && ++seen == occurrence;
  }
  void progressed(const Progress& progress) override {
    Recorder::progressed(progress);
    if (inPhase) stop.request_stop();
  }
};

TEST(ResizePipeline, RefusalsBeforeAnythingIsWritten) {
  ResizeRun r;
  r.in = r.r.dir.path("in/small_9999X9999.raw");
  sparse(r.in, int64_t{9999} * 9999 * 3);
  RunResult result = r.run(1000, true);
  EXPECT_EQ(result.outcome, Outcome::Refused);
  EXPECT_EQ(result.message.rfind("Width and height of the input file must be > 10000: ", 0), 0u) << result.message;
  r.request.chosenFolder.clear();  // beside the input, same kind
  EXPECT_EQ(r.run(1000, true).message.rfind("Cannot overwrite input file: the output would go beside the input", 0), 0u);
  EXPECT_EQ(r.inListing(), "small_9999X9999.raw\n");
  EXPECT_EQ(r.outListing(), "");
  // The free space must hold the temporary images as well as the output.
  r.in = r.r.dir.path("in/wide_20500X200.raw");
  sparse(r.in, int64_t{20500} * 200 * 3);
  r.request.chosenFolder = r.out;
  setDiskFreeHookForTests([](const std::string&) { return int64_t{1000} * 12 * 3 + 1; });  // the output alone
  result = r.run(1000, false);
  setDiskFreeHookForTests(nullptr);
  EXPECT_EQ(result.outcome, Outcome::Refused);
  EXPECT_EQ(result.message.rfind("There is not enough space on the destination directory: the resize needs ", 0), 0u);
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
    // The tiles are read straight from the RAW input; the fast method picks by index.
    const std::vector<std::string> shows = r.r.recorder.matching("show:");
    const std::vector<std::string> phases =
        fast ? std::vector<std::string>{"107:Step 4/4"}
             : std::vector<std::string>{"442:Step 2/4", "107:Step 3/4", "107:Step 4/4"};
    EXPECT_EQ(shows, phases);
    if (!fast) {  // tiles counted from 1: the last one done is "2/2", never "0/2"
      const std::vector<std::string> statuses = r.r.recorder.matching("status:Resizing tile");
      ASSERT_FALSE(statuses.empty());
      EXPECT_EQ(statuses.front(), " 1/2");  // what follows the prefix
      EXPECT_EQ(statuses.back(), " 2/2");
    }
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

TEST(ResizePipeline, CancelDuringTheSecondPassLeavesNothing) {
  ResizeRun r;
  r.in = r.r.dir.path("in/huge_110000X700.raw");
  sparse(r.in, int64_t{110000} * 700 * 3);
  PhaseCanceller canceller("Step 2/4", 2);
  EXPECT_EQ(r.run(1000, false, rawOut, &canceller).outcome, Outcome::Cancelled);
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
  EXPECT_EQ(r.r.recorder.matching("note:"), std::vector<std::string>{"the image is not enlarged: the output keeps 10100 × 20"});
}

// A failure names its reason: which file, what went wrong.
TEST(ResizePipeline, FailureSaysWhy) {
  for (bool fast : {false, true}) {
    ResizeRun r;
    r.in = r.r.dir.path("in/cut_20500X150.raw");
    writeRaw(r.in, makePixels(20500, 150, 8, 3));
    ASSERT_TRUE(r.r.select(r.in));
    ::truncate(r.in.c_str(), 20500 * 3 * 100);  // shortened after it was chosen
    const RunResult result = r.run(1000, fast, rawOut, nullptr, false);
    EXPECT_EQ(result.outcome, Outcome::Failed);
    const std::string reason = fast ? "Error resizing the image: Read file error: row 10"
                                    : "Error resizing the image: Cannot read file \"" + r.in + "\". row 100: the file ends";
    EXPECT_EQ(result.message.substr(0, reason.size()), reason) << result.message;
    EXPECT_EQ(r.outListing(), "");
  }
}

// Tiles read straight from the image, and pixels picked by index, give the
// bytes the former pipeline through tile files gave, for one, two and three
// passes (smaller tiles make several passes of small images): the checksums
// were recorded from it while the two were held equal.
TEST(ResizePipeline, DirectAndIndexPathsGiveTheTileFilesBytes) {
  struct Case {
    uint32_t tileSide, w, h, requested;
    int bits;
    bool fast;
    size_t passes;
    const char* md5;
  } cases[] = {{10000, 20500, 150, 1000, 8, true, 1, "54ca38d51c00c5ce096e158165533e44"},
               {10000, 20500, 150, 1000, 8, false, 1, "24d3a3bec22aa213f2e131c05a6e1ec5"},
               {10000, 20500, 150, 1000, 16, true, 1, "642f54d49d4b341ad4bb0acaf4027fa5"},
               {10000, 20500, 150, 1000, 16, false, 1, "3679cf344f4976b0f22e0f007d1ccd8a"},
               {1000, 100, 10500, 20, 16, false, 2, "e6d140be90a16d881cd98ce8a7bca154"},
               {1000, 100, 10500, 20, 8, true, 2, "ccc10b048881de9b4edfe10120e4402f"},
               {1000, 20500, 150, 200, 8, false, 2, "8b9fbca4ba8d17dd03fc3d0cec0b5f45"},
               {1000, 20500, 150, 200, 16, true, 2, "57d766be1f249175c9054fe5e79d64ed"},
               {1000, 30000, 150, 500, 16, false, 3, "71d76f4122eabd4c37a969bda1ea4a7d"},
               {1000, 100, 30000, 3, 8, true, 3, "8da78468a88f602fa492788151d02d0e"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " + std::to_string(c.bits) +
                 (c.fast ? " fast" : " slow"));
    ResizeRun r;
    r.request.tileSide = c.tileSide;
    const uint32_t rh = static_cast<uint32_t>(resizeHeight(c.w, c.h, c.requested));
    const int bpp = 3 * c.bits / 8;
    ASSERT_EQ(planResize(c.w, c.h, bpp, c.bits, c.requested, rh, c.fast, c.tileSide).passes.size(), c.passes);
    r.in = r.r.dir.path("in/p_" + std::to_string(c.w) + "X" + std::to_string(c.h) + ".raw");
    writeRaw(r.in, makePixels(c.w, c.h, c.bits, 3, c.w + c.h + c.bits));
    ASSERT_TRUE(r.run(c.requested, c.fast, kroOut).completed());
    EXPECT_EQ(runCommand("md5sum < " + quote(r.out + "/p.kro") + " | cut -c1-32"), std::string(c.md5) + "\n");
  }
}

// A cancel in any phase leaves no file behind: the conversion of a compressed
// input, the tiles, and the writing of the output.
TEST(ResizePipeline, CancelInEveryPhaseLeavesNothing) {
  ResizeRun r;
  r.in = r.r.dir.path("in/c.tif");
  writeTiff(r.in, makePixels(20500, 64, 8, 3, 2), false, 5, 8);  // LZW strips: converted first
  for (const char* phase : {"Step 1/4", "Step 2/4", "Step 4/4"}) {
    SCOPED_TRACE(phase);
    PhaseCanceller canceller(phase, 1);
    EXPECT_EQ(r.run(1000, false, tiffOut, &canceller).outcome, Outcome::Cancelled);
    EXPECT_EQ(r.outListing(), "");
    EXPECT_EQ(r.inListing(), "c.tif\n");
  }
}
