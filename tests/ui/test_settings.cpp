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

#include "settings/checkversion.h"
#include "settings/setup.h"
#include "testkit.h"
#include "ui/mainwindow.h"
#include "uikit.h"

using namespace testkit;

TEST(Settings, LineRules) {
  EXPECT_EQ(GetIntValue("WINDOWPOSX = 250"), 250);
  EXPECT_EQ(GetIntValue("WINDOWPOSX=250 "), 0);
  EXPECT_EQ(GetIntValue("WINDOWPOSX=-40"), -40);
  EXPECT_EQ(GetIntValue("WINDOWPOSX"), 0);
  EXPECT_EQ(GetIntValue("WINDOWPOSX=$10"), 0);
  EXPECT_TRUE(GetBoolValue("CHECKFORUPDATES= TRUE "));
  EXPECT_TRUE(GetBoolValue("CHECKFORUPDATES=true"));
  EXPECT_FALSE(GetBoolValue("CHECKFORUPDATES=1"));
  EXPECT_FALSE(GetBoolValue("CHECKFORUPDATES"));
}

TEST(Settings, LoadMatchesBeginningsAndLastWins) {
  TScratch d;
  WriteFile(d.Path("t.ini"),
            "[Main]\r\n; a comment\r\nwindowposx = 250\r\nWindowPosXY=7\r\nWindowPosY=-3\r\n WindowPosY=99\r\n"
            "CheckForUpdates= true \r\n");
  TSetup s(d.Path("t.ini"));
  TSettingsValues v = s.Load();
  EXPECT_EQ(v.WindowPosX, 7);  // the later line wins; only the beginning is compared
  EXPECT_EQ(v.WindowPosY, -3);  // a leading blank hides the key
  EXPECT_TRUE(v.CheckForUpdates);
  ASSERT_TRUE(s.Save(v));
  EXPECT_EQ(ReadFile(d.Path("t.ini")), "WindowPosX=7\r\nWindowPosY=-3\r\nCheckForUpdates=True\r\n");

  WriteFile(d.Path("keys-missing.ini"), "Other=1\r\n");
  TSetup m(d.Path("keys-missing.ini"));
  v = m.Load();
  EXPECT_EQ(v.WindowPosX, 0);
  EXPECT_EQ(v.WindowPosY, 0);
  EXPECT_FALSE(v.CheckForUpdates);
  TSetup none(d.Path("none.ini"));
  v = none.Load();
  EXPECT_EQ(v.WindowPosX, 400);
  EXPECT_EQ(v.WindowPosY, 100);
  EXPECT_TRUE(v.CheckForUpdates);
}

TEST(Settings, UnreadableOrUnwritableFilesNeverFail) {
  TScratch d;
  ::mkdir(d.Path("dir.ini").c_str(), 0755);  // a folder where the file should be
  TSetup s(d.Path("dir.ini"));
  TSettingsValues v = s.Load();
  EXPECT_EQ(v.WindowPosX, 400);
  EXPECT_FALSE(s.Save(v));
  // The window starts and closes all the same.
  TFrmMain w(QString::fromStdString(d.Path("dir.ini")));
  w.CheckForUpdatesTimer->stop();
  w.show();
  EXPECT_TRUE(w.close());
  // Beside a writable executable, or else under the configuration folder.
  EXPECT_EQ(SettingsPath(d.Path("torvel-tools")), d.Path("torvel-tools.ini"));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(d.Path("cfg")));
  EXPECT_EQ(SettingsPath("/no-such-folder/torvel-tools"), d.Path("cfg") + "/torvel-tools/torvel-tools.ini");
}

namespace {

// A one-request-at-a-time HTTP server on 127.0.0.1 with a scripted reply.
class TLoopbackServer {
 public:
  struct TReply {
    int Status = 200;
    std::string Body;
    std::string Location;  // a redirect when set
    int DelayMs = 0;
  };
  TLoopbackServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(fd_, 8);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TLoopbackServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  void Script(std::vector<TReply> replies) {
    std::lock_guard<std::mutex> l(m_);
    replies_ = std::move(replies);
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> l(m_);
    return requests_;
  }

 private:
  void Serve() {
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
      TReply r;
      {
        std::lock_guard<std::mutex> l(m_);
        requests_.push_back(req);
        if (!replies_.empty()) {
          r = replies_.front();
          if (replies_.size() > 1) replies_.erase(replies_.begin());
        }
      }
      for (int t = 0; t < r.DelayMs && !stop_; t += 10) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::string out = "HTTP/1.1 " + std::to_string(r.Status) + " X\r\nContent-Length: " +
                        std::to_string(r.Body.size()) + "\r\nConnection: close\r\n";
      if (!r.Location.empty()) out += "Location: " + r.Location + "\r\n";
      out += "\r\n" + r.Body;
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
  std::vector<TReply> replies_;
  std::vector<std::string> requests_;
};

// Runs one check to the end; its result.
bool Check(const std::string& endpoint, long timeout = 10) {
  TCheckVersion c;
  c.CurrVersion = "2.1.0";
  c.Endpoint = endpoint;
  c.TimeoutSeconds = timeout;
  c.ConnectTimeoutSeconds = timeout;
  c.Start();
  QElapsedTimer t;
  t.start();
  while (!c.Finished() && t.elapsed() < 30000) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(c.Finished());
  return c.NewVersion();
}

}  // namespace

TEST(UpdateCheck, RequestAndReplies) {
  TLoopbackServer srv;
  srv.Script({{200, "2.1.0\r\n"}});
  EXPECT_FALSE(Check(srv.Url()));
  const std::string req = srv.Requests().at(0);
  EXPECT_EQ(req.rfind("GET /version.php?software=TorvelTools2&id= HTTP/1.1\r\n", 0), 0u) << req;
  EXPECT_NE(req.find("\r\nUser-Agent: Mozilla/5.0 (Windows; U; Windows NT 6.0; it;rv:1.8.1.12\r\n"), std::string::npos);
  srv.Script({{200, "2.2.0\n"}});
  EXPECT_TRUE(Check(srv.Url()));
  srv.Script({{200, "2.0.0"}});
  EXPECT_TRUE(Check(srv.Url()));
  srv.Script({{200, "2.1.0"}});  // case and no line break
  EXPECT_FALSE(Check(srv.Url()));
  srv.Script({{200, ""}});
  EXPECT_FALSE(Check(srv.Url()));
  srv.Script({{200, "\r\n2.2.0"}});
  EXPECT_FALSE(Check(srv.Url()));
  srv.Script({{404, "2.2.0"}});
  EXPECT_FALSE(Check(srv.Url()));
  srv.Script({{302, "", "/elsewhere"}, {200, "3.0.0\n"}});
  EXPECT_TRUE(Check(srv.Url()));
  EXPECT_NE(srv.Requests().back().find("GET /elsewhere"), std::string::npos);
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
  EXPECT_FALSE(Check("http://127.0.0.1:" + std::to_string(port) + "/"));
  // A server that never answers: bounded by the timeout.
  TLoopbackServer srv;
  srv.Script({{200, "9.9.9", "", 5000}});
  QElapsedTimer t;
  t.start();
  EXPECT_FALSE(Check(srv.Url(), 1));
  EXPECT_LT(t.elapsed(), 4000);
}

TEST(UpdateCheck, WindowShowsTheResultAndRunsOneWorker) {
  TLoopbackServer srv;
  srv.Script({{200, "2.2.0\n", "", 200}});
  TScratch d;
  TFrmMain w(QString::fromStdString(d.Path("none.ini")));  // no file: the check starts by itself
  w.CheckForUpdatesTimer->stop();
  w.UpdateEndpoint = QString::fromStdString(srv.Url());
  EXPECT_TRUE(w.cbCheckForUpdates->isChecked());
  w.CheckForUpdatesTimer->start();
  QElapsedTimer t;
  t.start();
  ASSERT_TRUE(uikit::WaitFor([&] { return w.lbNewVersion->isVisible() || w.lbNewVersion->isVisibleTo(&w); }));
  EXPECT_GE(t.elapsed(), 500 + 200 - 50);  // the first tick, then the request
  EXPECT_EQ(w.lbNewVersion->text(), "New software version available");
  EXPECT_NE(w.lbNewVersion->styleSheet().indexOf("255, 0, 0"), -1);

  srv.Script({{200, "2.1.0\n", "", 300}});
  w.Button1Click();
  EXPECT_EQ(w.lbNewVersion->text(), "Checking for updates...");
  w.Button1Click();
  ASSERT_TRUE(uikit::WaitFor([&] { return w.lbNewVersion->text() != "Checking for updates..."; }));
  EXPECT_EQ(w.lbNewVersion->text(), "No new updates available");
  EXPECT_FALSE(w.CheckForUpdatesTimer->isActive());
  EXPECT_EQ(srv.Requests().size(), 2u);  // two presses, one worker
  // The window closes while a slow worker runs, without waiting for it.
  srv.Script({{200, "2.1.0\n", "", 3000}});
  w.Button1Click();
  uikit::WaitFor([&] { return w.Checker != nullptr; }, 2000);
  t.restart();
  w.show();
  EXPECT_TRUE(w.close());
  EXPECT_LT(t.elapsed(), 1000);
  EXPECT_EQ(ReadFile(d.Path("none.ini")).find("CheckForUpdates=True\r\n") != std::string::npos, true);
}
