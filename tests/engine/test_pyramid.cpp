// Pyramids where only the engine can be asked: a full disk and a cancel
// leave nothing, and a ZIP of more entries than the classic format counts
// carries the ZIP64 records Python's zipfile reads.
#include <gtest/gtest.h>

#include "engine/bytefile.h"
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
