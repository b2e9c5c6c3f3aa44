// The window as the display server sees it: a real X server (Xvfb) and the
// program itself, not the widget's own idea of its title.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "testkit.h"
#include "torvel/version.h"

using namespace testkit;

namespace {

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  _exit(127);
}

// A child killed however the test ends.
struct Running {
  pid_t pid;
  ~Running() {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
};

// Polls `command` until its output contains `text`; the last output.
std::string waitForOutput(const std::string& command, const std::string& text) {
  std::string out;
  for (int i = 0; i < 200 && out.find(text) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    out = runCommand(command + " 2>/dev/null");
  }
  return out;
}

// An X server of 1024 x 768 for one test; skipped where the tools are missing.
struct XServer {
  std::string name;
  pid_t server = 0;
  ~XServer() {
    if (server) Running{server};  // killed and reaped
  }
  // Xvfb picks a free display itself and names it once it takes clients:
  // tests started together never share one.
  bool start() {
    int ready[2];
    if (::pipe(ready) != 0) return false;
    server = spawn({"Xvfb", "-displayfd", std::to_string(ready[1]), "-nolisten", "tcp", "-screen", "0", "1024x768x24"}, {});
    ::close(ready[1]);
    std::string number;
    char c;
    while (::read(ready[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(ready[0]);
    name = ":" + number;
    return !number.empty();
  }
  std::vector<std::string> env(const Scratch& home) const {
    return {"DISPLAY=" + name, "QT_QPA_PLATFORM=xcb", "HOME=" + home.dir(), "XDG_CONFIG_HOME=" + home.dir(),
            "TORVEL_UPDATE_URL=http://127.0.0.1:9/"};
  }
  // The id of the top-level window with this caption, as xwininfo lists it.
  std::string windowId(const std::string& caption) const {
    const std::string tree = waitForOutput("xwininfo -root -tree -display " + name, caption);
    const size_t at = tree.find(caption);
    if (at == std::string::npos) return "";
    const size_t idStart = tree.rfind('\n', at) + 1;
    return tree.substr(tree.find_first_not_of(' ', idStart), 9);
  }
};

int valueAfter(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + label.size());
}

const std::string caption = std::string("\"Torvel Tools ") + torvel::torvelVersion + "\"";

}  // namespace

// The caption is exactly "Torvel Tools 2.1.0": the platform appends nothing.
TEST(Platform, CaptionAsTheXServerSeesIt) {
  XServer x;
  if (runCommand("which Xvfb xwininfo xprop | wc -l") != "3\n") GTEST_SKIP() << "needs Xvfb and x11-utils";
  ASSERT_TRUE(x.start()) << "Xvfb did not start";
  Scratch home;
  const Running app{spawn({TORVEL_TOOLS_EXE}, x.env(home))};
  const std::string id = x.windowId(caption);
  ASSERT_FALSE(id.empty());
  // The window's own name properties, as a window manager or task bar reads them.
  const std::string props = runCommand("xprop -display " + x.name + " -id " + id + " _NET_WM_NAME WM_NAME");
  EXPECT_NE(props.find("_NET_WM_NAME(UTF8_STRING) = " + caption + "\n"), std::string::npos) << props;
  EXPECT_NE(props.find("WM_NAME(UTF8_STRING) = " + caption + "\n"), std::string::npos) << props;
}

// A position saved on a screen that is gone opens inside the one there is.
TEST(Platform, SavedPositionOutsideTheScreenIsBroughtBack) {
  XServer x;
  if (runCommand("which Xvfb xwininfo xprop | wc -l") != "3\n") GTEST_SKIP() << "needs Xvfb and x11-utils";
  ASSERT_TRUE(x.start()) << "Xvfb did not start";
  Scratch home;
  // The settings live beside the program: a copy of it, with its own.
  const std::string exe = home.path("torvel-tools");
  std::filesystem::copy_file(TORVEL_TOOLS_EXE, exe);
  ::chmod(exe.c_str(), 0755);
  writeFile(exe + ".ini", "[Main]\r\nWindowPosX=5000\r\nWindowPosY=5000\r\nCheckForUpdates=False\r\n");
  const Running app{spawn({exe}, x.env(home))};
  const std::string id = x.windowId(caption);
  ASSERT_FALSE(id.empty());
  const std::string info = runCommand("xwininfo -display " + x.name + " -id " + id);
  const int left = valueAfter(info, "Absolute upper-left X:"), top = valueAfter(info, "Absolute upper-left Y:");
  EXPECT_GE(left, 0) << info;
  EXPECT_GE(top, 0) << info;
  EXPECT_LE(left + valueAfter(info, "Width:"), 1024) << info;
  EXPECT_LE(top + valueAfter(info, "Height:"), 768) << info;
}
