// Outputs complete or absent when torvel is killed or interrupted, and
// resizes that run side by side in one folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

#include "engine/files.h"
#include "engine/reader.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

// torvel running as a child process, its output discarded.
struct Child {
  pid_t pid = -1;
  explicit Child(std::vector<std::string> args) {
    pid = ::fork();
    if (pid != 0) return;
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::string exe = TORVEL_EXE;
    std::vector<char*> argv{exe.data()};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    _exit(127);
  }
  // The exit status, or -signal when a signal ended it.
  int wait() {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }
};

int runToEnd(const std::vector<std::string>& args) { return Child(args).wait(); }

// Waits (up to 20 s) until some name in `dir` contains `mark`.
bool appears(const std::string& dir, const std::string& mark) {
  for (int i = 0; i < 4000; ++i) {
    if (runCommand("ls -A " + quote(dir)).find(mark) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// Pseudo-random 8-bit RGB lines: slow to compress, so runs last a while.
void writeNoise(const std::string& path, uint32_t w, uint32_t h) {
  FILE* f = std::fopen(path.c_str(), "wb");
  std::vector<uint8_t> line(size_t(w) * 3);
  uint32_t x = 7;
  for (uint32_t y = 0; y < h; ++y) {
    for (auto& b : line) b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    std::fwrite(line.data(), 1, line.size(), f);
  }
  std::fclose(f);
}

// The names in `dir` a user sees (not hidden), one per line.
std::string visible(const std::string& dir) { return runCommand("ls " + quote(dir)); }

// Every row of the image at `path` reads back.
bool readsWhole(const std::string& path) {
  const ImageInfo info = probeImage(path);
  std::string why;
  auto reader = info.accepted ? openReader(info, why) : nullptr;
  for (uint32_t row = 0; reader && row < info.height; ++row)
    if (!reader->readRow(row)) return false;
  return reader != nullptr;
}

struct Killed {
  Scratch d;
  std::string in;
  Killed() : in(d.path("big_3000X4000.raw")) { writeNoise(in, 3000, 4000); }
  std::string folder(const std::string& name) {
    ::mkdir(d.path(name).c_str(), 0755);
    return d.path(name);
  }
  // Starts a job, kills it with `sig` once `mark` shows in `dir`; its exit status.
  int interrupt(const std::vector<std::string>& args, const std::string& dir, const std::string& mark, int sig) {
    Child child(args);
    EXPECT_TRUE(appears(dir, mark)) << args[0];
    ::kill(child.pid, sig);
    return child.wait();
  }
};

}  // namespace

// kill -9 in the middle of every operation: nothing incomplete under a final
// name, a replaced file intact, and the next run into the folder removes
// what the killed one left.
TEST(CliReliability, KillNineLeavesNoFileUnderAFinalName) {
  Killed k;
  const std::string o = k.folder("o"), t = k.folder("t"), m = k.folder("m"), r = k.folder("r");
  ASSERT_EQ(runToEnd({"convert", k.in, "--out", o, "--quiet"}), 0);
  const std::string old = readFile(o + "/big.tif");
  EXPECT_EQ(k.interrupt({"convert", k.in, "--format", "tif-lzw", "--yes", "--out", o}, o, ".part", SIGKILL), -SIGKILL);
  EXPECT_EQ(visible(o), "big.tif\n");
  EXPECT_TRUE(readFile(o + "/big.tif") == old);

  EXPECT_EQ(k.interrupt({"split", k.in, "--tile", "1000x1000", "--format", "tif-lzw", "--out", t}, t, "x2y2", SIGKILL),
            -SIGKILL);
  for (const char* tile : {"big_1000X1000_x1y1.tif", "big_1000X1000_x3y1.tif"})
    EXPECT_TRUE(readsWhole(t + "/" + tile)) << tile;  // band 1 was finished
  std::stringstream tiles(visible(t));
  for (std::string tile; std::getline(tiles, tile);) EXPECT_TRUE(readsWhole(t + "/" + tile)) << tile;

  ASSERT_EQ(runToEnd({"split", k.in, "--tile", "1500x2000", "--format", "raw", "--out", m}), 0);
  const std::vector<std::string> pieces = {"big_1500X2000_x1y1.raw", "big_1500X2000_x2y1.raw", "big_1500X2000_x1y2.raw",
                                           "big_1500X2000_x2y2.raw"};
  std::vector<std::string> merge = {"merge"};
  for (const std::string& p : pieces) merge.push_back(m + "/" + p);
  for (const char* a : {"--format", "tif-lzw", "--out", r.c_str()}) merge.push_back(a);
  EXPECT_EQ(k.interrupt(merge, r, ".part", SIGKILL), -SIGKILL);
  EXPECT_EQ(visible(r), "");

  writeNoise(k.d.path("wide_20500X600.raw"), 20500, 600);
  EXPECT_EQ(k.interrupt({"resize", k.d.path("wide_20500X600.raw"), "--width", "1000", "--slow", "--out", r}, r,
                        "$$$TEMP", SIGKILL),
            -SIGKILL);
  EXPECT_EQ(runCommand("ls " + quote(r) + " | grep -v TEMP"), "");  // its private folder stays till the next run

  // The next run into each folder clears the leftovers of the killed ones.
  writeRaw(k.d.path("tiny_2X2.raw"), makePixels(2, 2, 8, 3));
  for (const std::string& dir : {o, t, r}) {
    ASSERT_EQ(runToEnd({"convert", k.d.path("tiny_2X2.raw"), "--format", "kro", "--out", dir, "--quiet"}), 0);
    EXPECT_EQ(runCommand("ls -A " + quote(dir) + " | grep -c -e '^\\.' -e TEMP"), "0\n") << dir;
  }
}

// Ctrl-C while an existing output is being replaced keeps the old file (the
// slow LZW replacement of a plain TIFF of the same name).
TEST(CliReliability, InterruptedReplacementKeepsTheOldFile) {
  Killed k;
  const std::string o = k.folder("o");
  ASSERT_EQ(runToEnd({"convert", k.in, "--out", o, "--quiet"}), 0);
  const std::string old = readFile(o + "/big.tif");
  for (int sig : {SIGINT, SIGTERM}) {
    EXPECT_EQ(k.interrupt({"convert", k.in, "--format", "tif-lzw", "--yes", "--out", o}, o, ".part", sig), 1);
    EXPECT_EQ(runCommand("ls -A " + quote(o)), "big.tif\n");
    EXPECT_TRUE(readFile(o + "/big.tif") == old);
  }
  // An interrupted resize removes its private temporary folder.
  const std::string r = k.folder("r");
  writeNoise(k.d.path("wide_20500X600.raw"), 20500, 600);
  EXPECT_EQ(k.interrupt({"resize", k.d.path("wide_20500X600.raw"), "--width", "1000", "--out", r}, r, "$$$TEMP", SIGINT),
            1);
  EXPECT_EQ(runCommand("ls -A " + quote(r)), "");
}

// Two resizes of inputs with the same name into one folder at once: each
// output is what a lone run gives.
TEST(CliReliability, ConcurrentResizesOfSameNamedInputs) {
  Scratch d;
  for (const char* sub : {"a", "b", "lone", "both"}) ::mkdir(d.path(sub).c_str(), 0755);
  writeRaw(d.path("a/p_20500X300.raw"), makePixels(20500, 300, 8, 3, 1));
  writeRaw(d.path("b/p_20500X300.raw"), makePixels(20500, 300, 8, 3, 2));
  auto job = [&](const char* sub, const char* format, const std::string& out) {
    return std::vector<std::string>{"resize", d.path(std::string(sub) + "/p_20500X300.raw"), "--width", "1000",
                                    "--slow",  "--format", format, "--out", out, "--quiet"};
  };
  ASSERT_EQ(runToEnd(job("a", "tif", d.path("lone"))), 0);
  ASSERT_EQ(runToEnd(job("b", "kro", d.path("lone"))), 0);
  Child a(job("a", "tif", d.path("both"))), b(job("b", "kro", d.path("both")));
  EXPECT_EQ(a.wait(), 0);
  EXPECT_EQ(b.wait(), 0);
  EXPECT_EQ(runCommand("ls -A " + quote(d.path("both"))), "p.kro\np.tif\n");
  for (const char* name : {"p.tif", "p.kro"})
    EXPECT_TRUE(readFile(d.path(std::string("both/") + name)) == readFile(d.path(std::string("lone/") + name))) << name;
}

// A run in another PID namespace (a container sharing the folder) sees this
// run's process id as dead: its cleanup must still leave this run's part
// file alone, and this run completes.
TEST(CliReliability, ARunInAnotherPidNamespaceLeavesALiveRunAlone) {
  if (runCommand("unshare --pid --fork true 2>&1; echo $?") != "0\n")
    GTEST_SKIP() << "unshare --pid is not allowed here: the PID namespace case cannot be run";
  Killed k;
  const std::string o = k.folder("o");
  writeRaw(k.d.path("tiny_2X2.raw"), makePixels(2, 2, 8, 3));
  Child live({"convert", k.in, "--format", "tif-lzw", "--out", o});
  ASSERT_TRUE(appears(o, ".part"));
  int status = -1;
  runCommand("unshare --pid --fork " + std::string(TORVEL_EXE) + " convert " + quote(k.d.path("tiny_2X2.raw")) +
                 " --format kro --out " + quote(o) + " --quiet",
             &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(live.wait(), 0);
  EXPECT_EQ(visible(o), "big.tif\ntiny.kro\n");
  EXPECT_TRUE(readsWhole(o + "/big.tif"));
}
