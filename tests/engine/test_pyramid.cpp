// Pyramids where only the engine can be asked: a full disk and a cancel
// leave nothing, and a ZIP of more entries than the classic format counts
// carries the ZIP64 records Python's zipfile reads.
#include <gtest/gtest.h>

#include <random>

#include "engine/bytefile.h"
#include "engine/halving.h"
#include "engine/operations.h"
#include "engine/zipfile.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

struct PyramidRun {
  Harness h;
  PyramidSettings settings;
  PyramidRun() {
    writeTiff(h.dir.path("in.tif"), makePixels(900, 700, 8, 3));
    runCommand("mkdir " + quote(h.dir.path("o")));
    EXPECT_TRUE(h.select(h.dir.path("in.tif")));
    settings.tile = 64;
    settings.viewer = false;
  }
  RunResult run() { return makePyramid({h.input, settings, h.dir.path("o/")}, h.context()); }
  std::string left() { return runCommand("ls -A " + quote(h.dir.path("o"))); }
};

}  // namespace

TEST(PyramidEngine, AFullDiskAndACancelLeaveNothing) {
  for (bool zip : {false, true}) {
    PyramidRun p;
    p.settings.zip = zip;
    ByteFile::setWriteBudgetForTests(100000);
    const RunResult full = p.run();
    ByteFile::setWriteBudgetForTests(-1);
    EXPECT_EQ(full.outcome, Outcome::Failed) << zip;
    EXPECT_NE(full.message.find("No space left on device"), std::string::npos) << full.message;
    EXPECT_EQ(p.left(), "") << zip;
    p.h.recorder.rearm(50);
    EXPECT_EQ(p.run().outcome, Outcome::Cancelled) << zip;
    EXPECT_EQ(p.left(), "") << zip;
    p.h.recorder.rearm();
    EXPECT_TRUE(p.run().completed());  // and then it runs whole
  }
}

TEST(PyramidEngine, ZipOfMoreEntriesThanTheClassicCount) {
  Scratch d;
  ByteFile file;
  ASSERT_TRUE(file.createNew(d.path("many.zip")));
  ZipWriter zip(file);
  const uint8_t byte = 7;
  for (int i = 0; i < 70000; ++i) ASSERT_TRUE(zip.add("t/" + std::to_string(i), &byte, 1));
  ASSERT_TRUE(zip.finish());
  file.close();
  writeFile(d.path("check.py"), "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\n"
                                "print(len(z.namelist()), z.read('t/69999'), z.testzip())\n");
  EXPECT_EQ(runCommand("/usr/bin/python3 " + quote(d.path("check.py")) + " " + quote(d.path("many.zip")) + " 2>&1"),
            "70000 b'\\x07' None\n");
}

namespace {

// One level down by meanOfPixels, pixel by pixel: the definition the chain's
// quicker paths must keep.
std::vector<std::vector<uint8_t>> halvedByDefinition(const std::vector<std::vector<uint8_t>>& rows, uint32_t width,
                                                     const ChainPixels& px, uint32_t& halfWidth) {
  const size_t bytes = px.pixelBytes();
  halfWidth = (width + 1) / 2;
  std::vector<std::vector<uint8_t>> out((rows.size() + 1) / 2, std::vector<uint8_t>(halfWidth * bytes));
  for (size_t y = 0; y < out.size(); ++y)
    for (uint32_t x = 0; x < halfWidth; ++x) {
      const uint8_t* pixels[4];
      int count = 0;
      for (size_t r = 2 * y; r < std::min(rows.size(), 2 * y + 2); ++r)
        for (uint32_t c = 2 * x; c < std::min(width, 2 * x + 2); ++c) pixels[count++] = &rows[r][c * bytes];
      meanOfPixels(pixels, count, px, &out[y][x * bytes]);
    }
  return out;
}

}  // namespace

// Every sample layout, odd and even sides, rows copied or kept in place by
// the caller: each level is the 2 x 2 mean of the one above.
TEST(PyramidEngine, HalvingChainKeepsTheMeanOfEveryLayout) {
  std::mt19937 rng(3);
  for (int bits : {8, 16})
    for (int channels : {1, 2, 3, 4})
      for (uint32_t width : {7u, 10u})
        for (bool kept : {false, true}) {
          const ChainPixels px{bits, channels, channels % 2 == 0};
          const uint32_t height = 9;
          std::vector<std::vector<uint8_t>> rows(height, std::vector<uint8_t>(width * px.pixelBytes()));
          for (auto& r : rows)
            for (auto& b : r) b = static_cast<uint8_t>(rng() % 4 ? rng() : 0);  // zero alphas too
          const std::vector<LevelSize> levels = halvedLevels(width, height, Halving::Up, 1);
          std::vector<std::vector<std::vector<uint8_t>>> made(levels.size());
          LevelChain chain(levels, px, [&](size_t level, uint32_t, const uint8_t* row) {
            made[level].emplace_back(row, row + levels[level].width * px.pixelBytes());
            return true;
          });
          for (const auto& r : rows) ASSERT_TRUE(chain.push(r.data(), kept));
          std::vector<std::vector<uint8_t>> want = rows;
          uint32_t w = width;
          for (size_t l = 1; l < levels.size(); ++l) {
            want = halvedByDefinition(want, w, px, w);
            EXPECT_EQ(made[l], want) << bits << " bits, " << channels << " channels, width " << width << ", level " << l;
          }
        }
}
