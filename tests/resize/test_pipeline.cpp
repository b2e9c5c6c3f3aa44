#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "engine/setup.h"
#include "engine/utils.h"
#include "resize/pipeline.h"
#include "testkit.h"

using namespace testkit;

namespace {

struct Size {
  uint32_t W, H;
  bool operator==(const Size& o) const { return W == o.W && H == o.H; }
};

// The pass geometry alone: the size after each pass and the final size,
// as the pipeline would produce them, without touching a file.
std::vector<Size> Plan(uint32_t W, uint32_t H, uint32_t RW, bool fast) {
  const uint32_t RH = static_cast<uint32_t>(ResizeHeight(W, H, RW));
  const uint32_t threshold = fast ? RW : 2 * RW;
  std::vector<Size> sizes;
  for (int guard = 0; guard < 10; ++guard) {
    const uint32_t TW = PassTileSize(W), TH = PassTileSize(H);
    uint32_t cols = TileCount(W, TW), rows = TileCount(H, TH);
    if (WithinTwoPercent(W, H, RW, RH)) cols = rows = 0;
    if (cols <= 1 && rows <= 1) {
      long double D;
      if (DirectScalingDue(W, H, RW, TW, D)) {
        W = static_cast<uint32_t>(RoundDiv(W, D));
        H = static_cast<uint32_t>(RoundDiv(H, D));
      }
      sizes.push_back({W, H});
      return sizes;
    }
    const long double div = PassDivider(W, RW, threshold);
    uint32_t nw = 0, nh = 0;
    for (uint32_t c = 1; c <= cols; ++c)
      nw += static_cast<uint32_t>(RoundDiv(c == cols && W % TW ? W % TW : TW, div));
    for (uint32_t r = 1; r <= rows; ++r)
      nh += static_cast<uint32_t>(RoundDiv(r == rows && H % TH ? H % TH : TH, div));
    W = nw;
    H = nh;
    sizes.push_back({W, H});
  }
  return sizes;
}

void Sparse(const std::string& path, int64_t bytes) {
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, bytes), 0);
  ::close(fd);
}

}  // namespace

TEST(ResizeGeometry, TileWidening) {
  EXPECT_EQ(PassTileSize(20500), 10251u);
  EXPECT_EQ(PassTileSize(25500), 10000u);
  EXPECT_EQ(PassTileSize(10000), 10000u);
  EXPECT_EQ(PassTileSize(10999), 10999u);
  EXPECT_EQ(PassTileSize(5000), 5000u);
  EXPECT_EQ(TileCount(20500, 10251), 2u);
  EXPECT_EQ(TileCount(25500, 10000), 3u);
}

TEST(ResizeGeometry, WorkedExamples) {
  EXPECT_EQ(PassDivider(100000, 5000, 10000), 10.0L);
  EXPECT_EQ(Plan(100000, 50000, 5000, false), (std::vector<Size>{{10000, 5000}, {5000, 2500}}));
  EXPECT_EQ(Plan(100000, 50000, 5000, true), (std::vector<Size>{{10000, 5000}, {5000, 2500}}));
  EXPECT_EQ(PassDivider(60000, 5000, 10000), 6.0L);
  EXPECT_EQ(Plan(60000, 30000, 5000, false), (std::vector<Size>{{10002, 5001}, {5000, 2500}}));
  EXPECT_EQ(PassDivider(30000, 20000, 20000), 1.5L);
  EXPECT_EQ(Plan(30000, 20000, 20000, true), (std::vector<Size>{{20001, 13334}, {20001, 13334}}));
  EXPECT_EQ(Plan(20000, 10000, 19700, false), (std::vector<Size>{{20000, 10000}}));
  // A change of 100 pixels or fewer on one side: converted unscaled.
  EXPECT_EQ(Plan(10500, 5000, 10390, false), (std::vector<Size>{{10500, 5000}}));
  // One million pixels to 1000: two passes and the final scaling.
  EXPECT_EQ(Plan(1000000, 20000, 1000, true).size(), 3u);
  EXPECT_TRUE(WithinTwoPercent(50000, 100, 49000, 0));
  EXPECT_FALSE(WithinTwoPercent(50000, 100, 48999, 0));
  long double D;
  EXPECT_TRUE(DirectScalingDue(10002, 5001, 5000, 10002, D));
  EXPECT_EQ(RoundDiv(10002, D), 5000);
  EXPECT_EQ(RoundDiv(5001, D), 2500);
}

// The pipeline on the record, with a recorder, into a separate output folder.
struct ResizeRun {
  TRun R;
  TResizeHost Host;
  TResizeParams P;
  std::string In, Out;
  ResizeRun() {
    ::mkdir(R.Dir.Path("in").c_str(), 0755);
    ::mkdir(R.Dir.Path("out").c_str(), 0755);
    Out = R.Dir.Path("out");
    P.ChosenFolder = Out;
  }
  void Run(uint32_t rw, bool fast, FileType type = FileType::RAW) {
    ASSERT_TRUE(R.Select(In));
    P.RequestedWidth = rw;
    P.RequestedHeight = static_cast<uint32_t>(ResizeHeight(R.S.InInfo.Width, R.S.InInfo.Height, rw));
    P.Fast = fast;
    P.OutType = type;
    RunResize(R.S, P, Host);
  }
  std::string OutListing() { return RunCommand("ls -A " + Quote(Out)); }
  std::string InListing() { return RunCommand("ls -A " + Quote(R.Dir.Path("in"))); }
};

TEST(ResizePipeline, RefusalsBeforeAnythingIsWritten) {
  ResizeRun r;
  r.In = r.R.Dir.Path("in/small_9999X9999.raw");
  Sparse(r.In, int64_t{9999} * 9999 * 3);
  r.Run(1000, true);
  EXPECT_TRUE(r.R.S.Abort);
  EXPECT_EQ(r.R.Prompt.Errors, std::vector<std::string>{"Width and height of the input file must be > 10000"});
  r.P.ChosenFolder.clear();  // beside the input, same kind
  r.R.Prompt.Errors.clear();
  r.Run(1000, true);
  EXPECT_EQ(r.R.Prompt.Errors, std::vector<std::string>{"Cannot overwrite input file"});
  EXPECT_EQ(r.InListing(), "small_9999X9999.raw\n");
  EXPECT_EQ(r.OutListing(), "");
}

// A multi-pass run with a split pass, through the real workers.
TEST(ResizePipeline, SplitPassThenDirectScaling) {
  for (bool fast : {true, false}) {
    SCOPED_TRACE(fast);
    ResizeRun r;
    r.In = r.R.Dir.Path("in/wide_20500X2200.raw");
    WriteRaw(r.In, MakePixels(20500, 2200, 8, 3, 7));
    r.Run(1000, fast);
    ASSERT_FALSE(r.R.S.Abort) << (r.R.Rec.ErrorsShown.empty() ? "" : r.R.Rec.ErrorsShown[0]);
    EXPECT_EQ(r.OutListing(), "wide_1000X107.raw\n");
    EXPECT_EQ(r.InListing(), "wide_20500X2200.raw\n");
    EXPECT_EQ(r.R.S.InInfo.FileName, r.In);  // the input description is restored
    EXPECT_EQ(r.R.S.InInfo.Width, 20500u);
    std::vector<std::string> shows = r.R.Rec.Matching("show:");
    EXPECT_EQ(shows.front(), "2200:Step 1/4");
    EXPECT_EQ(shows[1], "4:Step 2/4");
    EXPECT_EQ(shows[2], "220:Step 3/4");
    EXPECT_EQ(shows.back(), "107:Step 4/4");
    EXPECT_FALSE(FolderExists(r.Out + "/" + ResizeTempFolderName));
  }
}

TEST(ResizePipeline, SixteenBitInputsResizeAtSixteenBits) {
  ResizeRun r;
  r.In = r.R.Dir.Path("in/deep.tif");
  WriteTiff(r.In, MakePixels(10050, 150, 16, 3, 5));
  r.Run(1000, false, FileType::TIF);
  ASSERT_FALSE(r.R.S.Abort);
  EXPECT_EQ(r.OutListing(), "deep.tif\n");
  TPixels out = ReadTiff(r.Out + "/deep.tif");
  EXPECT_EQ(out.Bits, 16);
  EXPECT_EQ(out.Width, 1000u);
  EXPECT_EQ(out.Height, 15u);
  EXPECT_EQ(r.InListing(), "deep.tif\n");
}

TEST(ResizePipeline, AbortDuringTileWorkLeavesNothing) {
  ResizeRun r;
  r.In = r.R.Dir.Path("in/wide_20500X300.raw");
  WriteRaw(r.In, MakePixels(20500, 300, 8, 3));
  bool step2 = false;
  TTorvel& S = r.R.S;
  S.OnShowProgress = [&](int32_t, const std::string& d) {
    S.Abort = false;
    step2 = d == "Step 2/4";
  };
  S.OnUpdateProgress = [&](int32_t) {
    if (step2) S.Abort = true;  // the first worker has just been handed its tile
  };
  std::vector<std::string> statuses;
  S.OnShowStatus = [&](const std::string& m) { statuses.push_back(m); };
  r.Run(1000, false);
  EXPECT_TRUE(S.Abort);
  EXPECT_EQ(statuses.back(), "Killing processes...");
  EXPECT_EQ(r.OutListing(), "");
  EXPECT_EQ(r.InListing(), "wide_20500X300.raw\n");
  EXPECT_EQ(S.InInfo.FileName, r.In);
}

TEST(ResizePipeline, AbortDuringTheSecondMergeLeavesNothing) {
  ResizeRun r;
  r.In = r.R.Dir.Path("in/huge_110000X700.raw");
  Sparse(r.In, int64_t{110000} * 700 * 3);
  int merges = 0;
  bool merging = false;
  TTorvel& S = r.R.S;
  S.OnShowProgress = [&](int32_t, const std::string& d) {
    S.Abort = false;
    merging = d == "Step 3/4" && ++merges == 2;
  };
  S.OnUpdateProgress = [&](int32_t) {
    if (merging) S.Abort = true;
  };
  r.Run(1000, true);
  EXPECT_EQ(merges, 2);
  EXPECT_TRUE(S.Abort);
  EXPECT_EQ(r.OutListing(), "");
  EXPECT_EQ(r.InListing(), "huge_110000X700.raw\n");
}

TEST(ResizePipeline, UnscaledWhenRequestedWidthIsNotSmaller) {
  ResizeRun r;
  r.In = r.R.Dir.Path("in/p_10100X20.raw");
  TPixels px = MakePixels(10100, 20, 8, 3);
  WriteRaw(r.In, px);
  r.Run(10200, true, FileType::KRO4);
  ASSERT_FALSE(r.R.S.Abort);
  EXPECT_EQ(ReadFile(r.Out + "/p.kro"), KroBytes(WithChannels(px, 4)));
}
