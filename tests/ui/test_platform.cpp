// The window as the display server sees it: a real X server (Xvfb) and the
// program itself, not the widget's own idea of its title.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

}  // namespace

// The caption is exactly "Torvel Tools 2.1.0": the platform appends nothing.
TEST(Platform, CaptionAsTheXServerSeesIt) {
  if (runCommand("which Xvfb xwininfo xprop | wc -l") != "3\n") GTEST_SKIP() << "needs Xvfb and x11-utils";
  int display = 90 + ::getpid() % 100;
  while (::access(("/tmp/.X11-unix/X" + std::to_string(display)).c_str(), F_OK) == 0) ++display;
  const std::string name = ":" + std::to_string(display);
  const Running server{spawn({"Xvfb", name, "-nolisten", "tcp", "-screen", "0", "1024x768x24"}, {})};
  Scratch home;
  const std::vector<std::string> env = {"DISPLAY=" + name, "QT_QPA_PLATFORM=xcb", "HOME=" + home.dir(),
                                        "XDG_CONFIG_HOME=" + home.dir(), "TORVEL_UPDATE_URL=http://127.0.0.1:9/"};
  waitForOutput("xwininfo -root -display " + name, "Window id");
  const Running app{spawn({TORVEL_TOOLS_EXE}, env)};
  const std::string caption = std::string("\"Torvel Tools ") + torvel::torvelVersion + "\"";
  const std::string tree = waitForOutput("xwininfo -root -tree -display " + name, caption);
  const size_t at = tree.find(caption);
  ASSERT_NE(at, std::string::npos) << tree;
  // The window's own name properties, as a window manager or task bar reads them.
  const size_t idStart = tree.rfind('\n', at) + 1;
  const std::string id = tree.substr(tree.find_first_not_of(' ', idStart), 9);
  const std::string props = runCommand("xprop -display " + name + " -id " + id + " _NET_WM_NAME WM_NAME");
  EXPECT_NE(props.find("_NET_WM_NAME(UTF8_STRING) = " + caption + "\n"), std::string::npos) << props;
  EXPECT_NE(props.find("WM_NAME(UTF8_STRING) = " + caption + "\n"), std::string::npos) << props;
}
