// The settings file and the update check against a real HTTP server on
// 127.0.0.1 started by the test.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <thread>

#include "settings/settingsfile.h"
#include "settings/updatecheck.h"
#include "testkit.h"
#include "ui/mainwindow.h"
#include "uikit.h"

using namespace testkit;
using namespace torvel;

TEST(Settings, LineRules) {
  EXPECT_EQ(settingIntValue("WINDOWPOSX = 250"), 250);
  EXPECT_EQ(settingIntValue("WINDOWPOSX=250 "), 0);
  EXPECT_EQ(settingIntValue("WINDOWPOSX=-40"), -40);
  EXPECT_EQ(settingIntValue("WINDOWPOSX"), 0);
  EXPECT_EQ(settingIntValue("WINDOWPOSX=$10"), 0);
  EXPECT_TRUE(settingBoolValue("CHECKFORUPDATES= TRUE "));
  EXPECT_TRUE(settingBoolValue("CHECKFORUPDATES=true"));
  EXPECT_FALSE(settingBoolValue("CHECKFORUPDATES=1"));
  EXPECT_FALSE(settingBoolValue("CHECKFORUPDATES"));
}

TEST(Settings, LoadMatchesBeginningsAndLastWins) {
  Scratch d;
  writeFile(d.path("t.ini"),
            "[Main]\r\n; a comment\r\nwindowposx = 250\r\nWindowPosXY=7\r\nWindowPosY=-3\r\n WindowPosY=99\r\n"
            "CheckForUpdates= true \r\n");
  SettingsFile s(d.path("t.ini"));
  Settings v = s.load();
  EXPECT_EQ(v.windowX, 7);  // the later line wins; only the beginning is compared
  EXPECT_EQ(v.windowY, -3);  // a leading blank hides the key
  EXPECT_TRUE(v.checkForUpdates);
  ASSERT_TRUE(s.save(v));
  EXPECT_EQ(readFile(d.path("t.ini")), "WindowPosX=7\r\nWindowPosY=-3\r\nCheckForUpdates=True\r\n");

  writeFile(d.path("keys-missing.ini"), "Other=1\r\n");
  SettingsFile m(d.path("keys-missing.ini"));
  v = m.load();
  EXPECT_EQ(v.windowX, 0);
  EXPECT_EQ(v.windowY, 0);
  EXPECT_FALSE(v.checkForUpdates);
  SettingsFile none(d.path("none.ini"));
  v = none.load();
  EXPECT_EQ(v.windowX, 400);
  EXPECT_EQ(v.windowY, 100);
  EXPECT_TRUE(v.checkForUpdates);
}

TEST(Settings, UnreadableOrUnwritableFilesNeverFail) {
  Scratch d;
  ::mkdir(d.path("dir.ini").c_str(), 0755);  // a folder where the file should be
  SettingsFile s(d.path("dir.ini"));
  Settings v = s.load();
  EXPECT_EQ(v.windowX, 400);
  EXPECT_FALSE(s.save(v));
  // The window starts and closes all the same.
  MainWindow w(QString::fromStdString(d.path("dir.ini")));
  w.updateTimer()->stop();
  w.show();
  EXPECT_TRUE(w.close());
  // Beside a writable executable, or else under the configuration folder.
  EXPECT_EQ(settingsPath(d.path("torvel-tools")), d.path("torvel-tools.ini"));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(d.path("cfg")));
  EXPECT_EQ(settingsPath("/no-such-folder/torvel-tools"), d.path("cfg") + "/torvel-tools/torvel-tools.ini");
}

namespace {

// A one-request-at-a-time HTTP server on 127.0.0.1 with a scripted reply.
class LoopbackServer {
 public:
  struct Reply {
    int status = 200;
    std::string body;
    std::string location;  // a redirect when set
    int delayMs = 0;
  };
  LoopbackServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(fd_, 8);
    thread_ = std::thread([this] { serve(); });
  }
  ~LoopbackServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  void script(std::vector<Reply> replies) {
    std::lock_guard<std::mutex> l(m_);
    replies_ = std::move(replies);
  }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> l(m_);
    return requests_;
  }

 private:
  void serve() {
    while (!stop_) {
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      std::string req;
      char buf[2048];
      while (req.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::read(c, buf, sizeof buf);
        if (n <= 0) break;
        req.append(buf, size_t(n));
      }
      Reply r;
      {
        std::lock_guard<std::mutex> l(m_);
        requests_.push_back(req);
        if (!replies_.empty()) {
          r = replies_.front();
          if (replies_.size() > 1) replies_.erase(replies_.begin());
        }
      }
      for (int t = 0; t < r.delayMs && !stop_; t += 10) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::string out = "HTTP/1.1 " + std::to_string(r.status) + " X\r\nContent-Length: " +
                        std::to_string(r.body.size()) + "\r\nConnection: close\r\n";
      if (!r.location.empty()) out += "Location: " + r.location + "\r\n";
      out += "\r\n" + r.body;
      ssize_t ignored = ::write(c, out.data(), out.size());
      (void)ignored;
      ::close(c);
    }
  }
  int fd_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex m_;
  std::vector<Reply> replies_;
  std::vector<std::string> requests_;
};

// Runs one check to the end; its outcome.
UpdateOutcome check(const std::string& endpoint, long timeout = 10) {
  UpdateCheck c;
  c.currentVersion = "2.1.0";
  c.endpoint = endpoint;
  c.timeoutSeconds = timeout;
  c.connectTimeoutSeconds = timeout;
  c.start();
  QElapsedTimer t;
  t.start();
  while (!c.finished() && t.elapsed() < 30000) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(c.finished());
  return c.outcome();
}

constexpr UpdateOutcome newer = UpdateOutcome::NewVersion, same = UpdateOutcome::UpToDate,
                        failed = UpdateOutcome::Failed;

}  // namespace

TEST(UpdateCheck, RequestAndReplies) {
  LoopbackServer srv;
  srv.script({{200, "2.1.0\r\n"}});
  EXPECT_EQ(check(srv.url()), same);
  const std::string req = srv.requests().at(0);
  EXPECT_EQ(req.rfind("GET /version.php?software=TorvelTools2&id= HTTP/1.1\r\n", 0), 0u) << req;
  EXPECT_NE(req.find("\r\nUser-Agent: Mozilla/5.0 (Windows; U; Windows NT 6.0; it;rv:1.8.1.12\r\n"), std::string::npos);
  srv.script({{200, "2.2.0\n"}});
  EXPECT_EQ(check(srv.url()), newer);
  srv.script({{200, "2.0.0"}});
  EXPECT_EQ(check(srv.url()), newer);
  srv.script({{200, "2.1.0"}});  // case and no line break
  EXPECT_EQ(check(srv.url()), same);
  // Replies that name no version, and HTTP errors: the check failed.
  for (const char* body : {"", "\r\n2.2.0", "<html><body>Service Unavailable</body></html>"}) {
    srv.script({{200, body}});
    EXPECT_EQ(check(srv.url()), failed) << body;
  }
  for (int status : {404, 500}) {
    srv.script({{status, "2.2.0"}});
    EXPECT_EQ(check(srv.url()), failed) << status;
  }
  srv.script({{302, "", "/elsewhere"}, {200, "3.0.0\n"}});
  EXPECT_EQ(check(srv.url()), newer);
  EXPECT_NE(srv.requests().back().find("GET /elsewhere"), std::string::npos);
}

TEST(UpdateCheck, RefusedAndSilentServers) {
  // A port nobody listens on.
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  const int port = ntohs(a.sin_port);
  ::close(fd);
  EXPECT_EQ(check("http://127.0.0.1:" + std::to_string(port) + "/"), failed);
  // A server that never answers: bounded by the timeout.
  LoopbackServer srv;
  srv.script({{200, "9.9.9", "", 5000}});
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(check(srv.url(), 1), failed);
  EXPECT_LT(t.elapsed(), 4000);
  // Given up while the server is silent: the thread is woken and joined at once.
  srv.script({{200, "9.9.9", "", 5000}});
  {
    UpdateCheck c;
    c.endpoint = srv.url();
    c.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    t.restart();
  }
  EXPECT_LT(t.elapsed(), 500);
}

// TORVEL_UPDATE_URL points the window's check elsewhere; "version.php" and
// the query are appended to it as to the vendor's address.
TEST(UpdateCheck, EnvironmentOverridesTheAddress) {
  LoopbackServer srv;
  srv.script({{200, "2.1.0\n"}});
  const std::string base = srv.url() + "mirror";
  ::setenv(updateEndpointVariable, base.c_str(), 1);
  EXPECT_EQ(updateEndpoint(), base + "/");
  Scratch d;
  MainWindow w(QString::fromStdString(d.path("none.ini")));
  uikit::Parts ui(&w);
  ::unsetenv(updateEndpointVariable);
  EXPECT_EQ(updateEndpoint(), defaultUpdateEndpoint);
  ASSERT_TRUE(uikit::waitFor([&] { return ui.updateResult->text() == "No new updates available"; }));
  EXPECT_EQ(srv.requests().at(0).rfind("GET /mirror/version.php?software=TorvelTools2&id= HTTP/1.1\r\n", 0), 0u);
}

TEST(UpdateCheck, WindowShowsTheResultAndRunsOneWorker) {
  LoopbackServer srv;
  srv.script({{200, "2.2.0\n", "", 200}});
  Scratch d;
  MainWindow w(QString::fromStdString(d.path("none.ini")));  // no file: the check starts by itself
  uikit::Parts ui(&w);
  w.updateTimer()->stop();
  w.setUpdateEndpoint(QString::fromStdString(srv.url()));
  EXPECT_TRUE(ui.checkUpdatesAtStart->isChecked());
  w.updateTimer()->start();
  QElapsedTimer t;
  t.start();
  ASSERT_TRUE(uikit::waitFor([&] { return ui.updateResult->isVisible() || ui.updateResult->isVisibleTo(&w); }));
  EXPECT_GE(t.elapsed(), 500 + 200 - 50);  // the first tick, then the request
  EXPECT_EQ(ui.updateResult->text(), "New software version available");
  EXPECT_NE(ui.updateResult->styleSheet().indexOf("255, 0, 0"), -1);

  srv.script({{200, "2.1.0\n", "", 300}});
  w.checkForUpdates();
  EXPECT_EQ(ui.updateResult->text(), "Checking for updates...");
  w.checkForUpdates();
  ASSERT_TRUE(uikit::waitFor([&] { return ui.updateResult->text() != "Checking for updates..."; }));
  EXPECT_EQ(ui.updateResult->text(), "No new updates available");
  EXPECT_FALSE(w.updateTimer()->isActive());
  EXPECT_EQ(srv.requests().size(), 2u);  // two presses, one worker
  // A failed check says so, in black.
  srv.script({{500, "2.2.0\n"}});
  w.checkForUpdates();
  ASSERT_TRUE(uikit::waitFor([&] { return ui.updateResult->text() != "Checking for updates..."; }));
  EXPECT_EQ(ui.updateResult->text(), "Could not check for updates");
  EXPECT_NE(ui.updateResult->styleSheet().indexOf("black"), -1);
  // The window closes while a slow worker runs, without waiting for it.
  srv.script({{200, "2.1.0\n", "", 3000}});
  w.checkForUpdates();
  uikit::waitFor([&] { return w.updateCheckRunning(); }, 2000);
  t.restart();
  w.show();
  EXPECT_TRUE(w.close());
  EXPECT_LT(t.elapsed(), 1000);
  EXPECT_EQ(readFile(d.path("none.ini")).find("CheckForUpdates=True\r\n") != std::string::npos, true);
}
