// Several inputs in one command, the file manager's thumbnailer, and a batch
// spread with GNU parallel as the shipped example does it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "clikit.h"
#include "engine/files.h"
#include "testkit.h"

using namespace testkit;
using clikit::runTorvel;
using torvel::fileExists;

namespace {

const std::string torvelExe = TORVEL_EXE;

// A RAW of random pixels made by a child process, so that this process stays
// small for the memory the children are measured by.
void randomRaw(const std::string& path, int width, int height) {
  runCommand("head -c " + std::to_string(int64_t{width} * height * 3) + " /dev/urandom > " + quote(path));
}

std::string listing(const std::string& dir) { return runCommand("ls -A " + quote(dir)); }

// "W H" and the RGB of the picture's pixels at the given places, as PIL reads them.
std::string pngPixels(const std::string& png, const std::vector<std::pair<int, int>>& at) {
  std::string points;
  for (auto [x, y] : at) points += "(" + std::to_string(x) + "," + std::to_string(y) + "),";
  return runCommand("/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + png +
                    "').convert('RGB'); print(*im.size); [print(*im.getpixel(p)) for p in [" + points + "]]\"");
}

// The RGB of RAW pixel (x, y), read from the file.
std::string rawPixel(const std::string& raw, int width, int x, int y) {
  return runCommand("od -An -tu1 -j " + std::to_string((int64_t{y} * width + x) * 3) + " -N3 " + quote(raw) +
                    " | xargs echo");
}

}  // namespace

// Three inputs, one damaged: the others are written, the damaged one is named
// with its reason, the exit status says not all completed; two at a time
// writes the same bytes; without --keep-going the batch stops at the failure.
TEST(CliBatch, DamagedFileIsNamedAndTheOthersAreWritten) {
  Scratch d;
  ::mkdir(d.path("in").c_str(), 0755);
  for (const char* name : {"in/a_300X200.raw", "in/c_300X200.raw"}) randomRaw(d.path(name), 300, 200);
  writeFile(d.path("in/b.tif"), "II*\0garbage");
  for (const char* out : {"one", "two", "stop"}) ::mkdir(d.path(out).c_str(), 0755);
  const std::vector<std::string> inputs = {d.path("in/a_300X200.raw"), d.path("in/b.tif"), d.path("in/c_300X200.raw")};
  auto batch = [&](const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args = {"convert"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.insert(args.end(), {"--format", "png", "--out", d.path(out)});
    args.insert(args.end(), extra.begin(), extra.end());
    return runTorvel(args);
  };
  clikit::Result r = batch("one", {"--keep-going"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(listing(d.path("one")), "a.png\nc.png\n");
  EXPECT_NE(r.out.find("FAILED " + d.path("in/b.tif") + ": "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("OK " + d.path("in/a_300X200.raw") + " -> " + d.path("one/a.png")), std::string::npos);
  EXPECT_NE(r.out.find("3 files: 2 completed, 1 failed"), std::string::npos) << r.out;
  r = batch("two", {"--keep-going", "--jobs", "2"});
  EXPECT_EQ(r.status, 1);
  for (const char* f : {"a.png", "c.png"})
    EXPECT_EQ(readFile(d.path(std::string("two/") + f)), readFile(d.path(std::string("one/") + f))) << f;
  r = batch("stop", {});
  EXPECT_EQ(listing(d.path("stop")), "a.png\n");
  EXPECT_NE(r.out.find("1 not run"), std::string::npos) << r.out;
  // A folder stands for the images under it only with --recursive; all good: exit 0.
  ::remove(d.path("in/b.tif").c_str());
  EXPECT_EQ(runTorvel({"resize", d.path("in"), "--width", "600"}).status, 2);
  r = runTorvel({"convert", d.path("in"), "--recursive", "--format", "kro", "--out", d.path("two"), "--quiet"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(fileExists(d.path("two/a.kro")) && fileExists(d.path("two/c.kro")));
}

// Ctrl-C during a batch: what stands is complete, the rest is not begun or removed.
TEST(CliBatch, InterruptLeavesOnlyCompleteOutputs) {
  Scratch d;
  ::mkdir(d.path("out").c_str(), 0755);
  std::string inputs;
  for (int i = 0; i < 6; ++i) {
    const std::string in = d.path("p" + std::to_string(i) + "_3000X2000.raw");
    if (i == 0) randomRaw(in, 3000, 2000); else std::filesystem::copy_file(d.path("p0_3000X2000.raw"), in);
    inputs += " " + quote(in);
  }
  const std::string log = d.path("log");
  const std::string status = runCommand(
      "(" + quote(torvelExe) + " convert" + inputs + " --format tif --compress deflate --out " + quote(d.path("out")) + " >" +
      quote(log) + " 2>&1 & pid=$!; until grep -q '^OK' " + quote(log) + "; do sleep 0.01; done; kill -INT $pid; wait $pid; echo $?)");
  EXPECT_EQ(status, "1\n") << readFile(log);
  int complete = 0;
  for (const auto& e : std::filesystem::directory_iterator(d.path("out"))) {
    const std::string name = e.path().filename().string();
    ASSERT_NE(name[0], '.') << "a leftover: " << name;
    // Every output there reads to its last pixel.
    EXPECT_EQ(runTorvel({"convert", e.path().string(), "--format", "raw", "--out", d.path(""), "-o",
                         d.path("check_3000X2000.raw"), "--yes", "--quiet"}).status, 0) << name;
    EXPECT_EQ(readFile(d.path("check_3000X2000.raw")), readFile(d.path("p0_3000X2000.raw"))) << name;
    ++complete;
  }
  EXPECT_GE(complete, 1);
  EXPECT_LT(complete, 6) << readFile(log);
}

// The thumbnailer's registered command on a strip TIFF, a tiled LZW TIFF, a
// KRO and a RAW: the longer side as asked, aspect kept, the pixels nearest to
// each picture pixel's centre, little memory; a damaged file: exit 1, no file.
TEST(CliThumbnail, RegisteredCommandOnEveryKindItIsRegisteredFor) {
  Scratch d;
  const std::string raw = d.path("scan_6000X4000.raw");
  randomRaw(raw, 6000, 4000);
  ASSERT_EQ(runTorvel({"convert", raw, "-o", d.path("strips.tif")}).status, 0);
  ASSERT_EQ(runTorvel({"convert", raw, "-o", d.path("tiles.tif"), "--compress", "lzw", "--tiled", "512"}).status, 0);
  ASSERT_EQ(runTorvel({"convert", raw, "-o", d.path("scan.kro")}).status, 0);
  std::string exec = readFile(std::string(TORVEL_SOURCE_DIR) + "/data/torvel.thumbnailer");
  exec = exec.substr(exec.find("Exec=torvel ") + 12);
  exec = exec.substr(0, exec.find('\n'));
  ASSERT_EQ(exec, "thumbnail -s %s %i %o");
  const clikit::FreedMemoryReturned measured;
  for (const std::string& in : {d.path("strips.tif"), d.path("tiles.tif"), d.path("scan.kro"), raw}) {
    SCOPED_TRACE(in);
    const std::string png = d.path("thumb.png");
    const clikit::Result r = runTorvel({"thumbnail", "-s", "128", in, png});
    ASSERT_EQ(r.status, 0) << r.err;
    // Under 64 MB: torvel itself (about 6 MB, more in a sanitized build) and what the picture takes.
    const long itself = runTorvel({"info", in}).peakKb;
    EXPECT_LT(r.peakKb - itself, 58 * 1024) << "torvel itself takes " << itself << " kB";
    // 128 × 85: picture pixel (x, y) shows image pixel ((2x + 1) 6000 / 256, (2y + 1) 4000 / 170).
    std::string expected = "128 85\n";
    for (auto [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {127, 84}, {63, 40}})
      expected += rawPixel(raw, 6000, (2 * x + 1) * 6000 / 256, (2 * y + 1) * 4000 / 170);
    EXPECT_EQ(pngPixels(png, {{0, 0}, {127, 84}, {63, 40}}), expected);
    ::remove(png.c_str());
  }
  std::string bytes = readFile(d.path("tiles.tif"));
  bytes.resize(bytes.size() / 2);
  writeFile(d.path("cut.tif"), bytes);
  EXPECT_EQ(runTorvel({"thumbnail", d.path("cut.tif"), d.path("cut.png")}).status, 1);
  EXPECT_FALSE(fileExists(d.path("cut.png")));
  EXPECT_EQ(runTorvel({"thumbnail", d.path("strips.tif")}).status, 2);
}

// The shipped GNU parallel example, on this machine only (":").
TEST(CliBatch, GnuParallelExampleOnThisMachine) {
  if (runCommand("command -v parallel").empty()) GTEST_SKIP() << "needs GNU parallel";
  Scratch d;
  ::mkdir(d.path("in").c_str(), 0755);
  ::mkdir(d.path("out").c_str(), 0755);
  for (const char* name : {"in/a_64X48.raw", "in/b_64X48.raw", "in/c_64X48.raw"}) randomRaw(d.path(name), 64, 48);
  const std::string bin = std::filesystem::path(torvelExe).parent_path().string();
  int status = -1;
  runCommand("PATH=" + quote(bin) + ":$PATH " + quote(std::string(TORVEL_SOURCE_DIR) + "/examples/parallel.sh") +
                 " : " + quote(d.path("in")) + " " + quote(d.path("out")) + " --format kro 2>&1",
             &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(listing(d.path("out")), "a.kro\nb.kro\nc.kro\nparallel.log\n");
}
