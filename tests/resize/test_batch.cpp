// The engine as a batch job or a library uses it: no front end, nobody to
// ask. Every answer is given up front, and no run waits for one.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/files.h"
#include "engine/operations.h"
#include "engine/reader.h"
#include "resize/pipeline.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

// Every operation once, with `context`; their outcomes in order.
std::vector<RunResult> everyOperation(const ImageInfo& in, const std::string& out, const RunContext& context) {
  std::vector<RunResult> results;
  results.push_back(convertImage({in, whole(in), tiffOut, out}, context));
  results.push_back(cropImage({in, {10, 5, 300, 20}, kroOut, out}, context));
  results.push_back(splitImage({in, 5000, 400, rawOut, out}, context));
  std::vector<std::string> tiles = results.back().written;
  if (tiles.empty()) tiles = {out + "scan_5000X400_x1y1.raw", out + "scan_5000X400_x2y1.raw", out + "scan_50X400_x3y1.raw"};
  results.push_back(mergeTiles({tiles, 3, 1, lzwOut, out + "m/", in.path}, context));
  const ResizeRequest resize{in, 1005, 40, true, rawOut, out + "r"};
  results.push_back(resizeImage(resize, context));
  return results;
}

}  // namespace

TEST(BatchCaller, EveryOperationWithItsAnswersGivenUpFront) {
  Scratch d;
  for (const char* sub : {"o", "o/m", "o/r"}) ::mkdir(d.path(sub).c_str(), 0755);
  // A RAW whose name does not give its size: the geometry is the probe's input.
  writeRaw(d.path("scan.raw"), makePixels(10050, 400, 8, 3));
  ImageInfo asked = probeImage(d.path("scan.raw"));
  EXPECT_TRUE(asked.needsGeometry);
  const ImageInfo in = probeImage(d.path("scan.raw"), {10050, 400, 8});
  ASSERT_TRUE(in.accepted);

  for (const RunResult& r : everyOperation(in, d.path("o/"), RunContext(nullptr, {}, Overwrite::Yes)))
    EXPECT_TRUE(r.completed()) << r.message;
  const std::string before = runCommand("cd " + quote(d.dir()) + " && md5sum o/* o/m/* o/r/* 2>/dev/null");
  EXPECT_EQ(std::count(before.begin(), before.end(), '\n'), 7);

  // Everything exists now: with "no" every run is declined, none asks, nothing changes.
  for (const RunResult& r : everyOperation(in, d.path("o/"), RunContext(nullptr, {}, Overwrite::No))) {
    EXPECT_EQ(r.outcome, Outcome::Declined) << r.message;
    EXPECT_NE(r.message.find("not replaced"), std::string::npos) << r.message;
  }
  EXPECT_EQ(runCommand("cd " + quote(d.dir()) + " && md5sum o/* o/m/* o/r/* 2>/dev/null"), before);
  EXPECT_EQ(runCommand("ls -A " + quote(d.path("o")) + " | grep -c torvel"), "0\n");
  EXPECT_EQ(runCommand("ls -A " + quote(d.path("o/r"))), "scan_1005X40.raw\n");
}
