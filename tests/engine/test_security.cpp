// Outputs and leftovers with a hostile neighbour in the output folder: names
// planted before and during a run never make it write or delete outside its
// own files, and a file that appears meanwhile is not replaced unasked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/files.h"
#include "engine/partfile.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

bool isRegularFile(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isLink(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

struct Folder {
  Harness r;
  std::string out;
  Folder() : out(r.dir.path("o/")) {
    ::mkdir(out.c_str(), 0755);
    writeRaw(r.dir.path("a_8X6.raw"), makePixels(8, 6, 8, 3));
    r.select(r.dir.path("a_8X6.raw"));
  }
  RunResult convert() { return convertImage({r.input, whole(r.input), tiffOut, out}, r.context()); }
};

struct NameHook {
  explicit NameHook(std::function<void(const std::string&)> hook) { PartFile::setNameHookForTests(std::move(hook)); }
  ~NameHook() { PartFile::setNameHookForTests({}); }
};

}  // namespace

// What the leftover cleanup removes: dead processes' part files and private
// folders that are regular, ours and unlocked; never through a link, never
// names this program does not make, never what a live run elsewhere holds.
TEST(Leftovers, OnlyOurOwnUnlockedFilesOfEndedProcesses) {
  Folder f;
  const std::string victim = f.r.dir.path("victim/");
  ::mkdir(victim.c_str(), 0755);
  writeFile(victim + "photo.raw", "precious");
  writeFile(victim + "notes.txt", "precious");
  ASSERT_EQ(::symlink(victim.c_str(), (f.out + "$$$TEMP$$$RESIZER$$$-99999-abcdef").c_str()), 0);
  ASSERT_EQ(::symlink((victim + "notes.txt").c_str(), (f.out + ".x.tif.torvel-99999.part").c_str()), 0);
  const std::string dead = f.out + "$$$TEMP$$$RESIZER$$$-99998-zzzzzz/";
  ::mkdir(dead.c_str(), 0700);
  writeFile(dead + "t_10X10.raw", "temporary");
  writeFile(dead + "notes.txt", "not ours to remove");
  writeFile(f.out + ".y.tif.torvel-99998.part", "dead");
  // A live run in another PID namespace: its PID means nothing here, its lock does.
  writeFile(f.out + ".w.tif.torvel-99997.part", "alive elsewhere");
  const int held = ::open((f.out + ".w.tif.torvel-99997.part").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  if (::geteuid() == 0) {
    writeFile(f.out + ".z.tif.torvel-99996.part", "another user's");
    ASSERT_EQ(::chown((f.out + ".z.tif.torvel-99996.part").c_str(), 4321, 4321), 0);
  }

  ASSERT_TRUE(f.convert().completed());
  ::close(held);
  EXPECT_EQ(readFile(victim + "photo.raw"), "precious");
  EXPECT_EQ(readFile(victim + "notes.txt"), "precious");
  EXPECT_TRUE(isLink(f.out + "$$$TEMP$$$RESIZER$$$-99999-abcdef"));
  EXPECT_TRUE(isLink(f.out + ".x.tif.torvel-99999.part"));
  EXPECT_FALSE(fileExists(dead + "t_10X10.raw"));
  EXPECT_EQ(readFile(dead + "notes.txt"), "not ours to remove");
  EXPECT_FALSE(fileExists(f.out + ".y.tif.torvel-99998.part"));
  EXPECT_EQ(readFile(f.out + ".w.tif.torvel-99997.part"), "alive elsewhere");
  if (::geteuid() == 0) {
    EXPECT_TRUE(fileExists(f.out + ".z.tif.torvel-99996.part"));
  }
}

// A link planted at the part name the run is about to take (through the
// test hook, between the choice of the name and its creation) is never
// followed: the output is a regular file in its folder, the link's target is
// never made.
TEST(PartFiles, APlantedLinkIsNeverFollowed) {
  Folder f;
  ::mkdir(f.r.dir.path("elsewhere").c_str(), 0755);
  const std::string target = f.r.dir.path("elsewhere/planted.tif");
  int planted = 0;
  NameHook hook([&](const std::string& candidate) {
    if (planted++ == 0) {
      ASSERT_EQ(::symlink(target.c_str(), candidate.c_str()), 0);
    }
  });
  const RunResult result = f.convert();
  ASSERT_TRUE(result.completed()) << result.message;
  EXPECT_TRUE(isRegularFile(f.out + "a.tif"));
  EXPECT_EQ(readTiff(f.out + "a.tif").samples, makePixels(8, 6, 8, 3).samples);
  EXPECT_FALSE(fileExists(target));
  EXPECT_GE(planted, 2);  // the next name was taken instead
}

// Another program flips the part name between a link to an existing file
// and nothing, as fast as it can, while runs keep writing: the file is never
// touched, and every run either completes with a regular file or fails.
TEST(PartFiles, ALinkFlippedAtThePartNameNeverReachesItsTarget) {
  Folder f;
  const std::string victim = f.r.dir.path("victim.txt");
  writeFile(victim, "precious");
  const std::string part = f.out + ".a.tif.torvel-" + std::to_string(::getpid()) + ".part";
  std::atomic<bool> stop{false};
  std::thread flipper([&] {
    while (!stop) {
      ::symlink(victim.c_str(), part.c_str());
      ::unlink(part.c_str());
    }
  });
  int completed = 0, runs = 0;
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2); std::chrono::steady_clock::now() < end;) {
    ++runs;
    if (f.convert().completed()) {
      ++completed;
      EXPECT_TRUE(isRegularFile(f.out + "a.tif"));
    }
    ::unlink((f.out + "a.tif").c_str());
  }
  stop = true;
  flipper.join();
  EXPECT_EQ(readFile(victim), "precious");
  EXPECT_GT(runs, 10);
  RecordProperty("completed", completed);
}

// A file that takes the output's name while the run writes (another run
// finishing first) is not replaced without consent: the run ends declined
// and says so; with the replacement confirmed before, it is replaced.
TEST(PartFiles, AnOutputThatAppearsMeanwhileIsNotReplacedUnasked) {
  Folder f;
  bool appeared = false;
  {
    NameHook hook([&](const std::string&) {
      if (!appeared) writeFile(f.out + "a.tif", "the other run's output");
      appeared = true;
    });
    const RunResult result = f.convert();
    EXPECT_EQ(result.outcome, Outcome::Declined);
    EXPECT_NE(result.message.find(f.out + "a.tif appeared while it was written"), std::string::npos) << result.message;
  }
  EXPECT_EQ(readFile(f.out + "a.tif"), "the other run's output");
  EXPECT_EQ(runCommand("ls -A " + quote(f.out)), "a.tif\n");
  f.r.answers = {true};
  ASSERT_TRUE(f.convert().completed());
  EXPECT_EQ(f.r.questions.size(), 1u);
  EXPECT_EQ(readTiff(f.out + "a.tif").width, 8u);
}
