#include "ui/launcherprogress.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace torvel {

struct LauncherProgress::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  QString appUri;
  State state = State::None;
  double fraction = 0;
  bool dirty = false;
  bool stop = false;
};

namespace {

void sendLoop(std::shared_ptr<LauncherProgress::Shared> s) {
  pthread_setname_np(pthread_self(), "launcher-entry");
  bool connected = false, tried = false;
  for (;;) {
    LauncherProgress::State state;
    double fraction;
    QString uri;
    {
      std::unique_lock<std::mutex> lock(s->mutex);
      s->changed.wait(lock, [&] { return s->dirty || s->stop; });
      if (s->stop) return;
      s->dirty = false;
      state = s->state;
      fraction = s->fraction;
      uri = s->appUri;
    }
    if (!tried) {
      tried = true;
      connected = sessionBusAnswers(1000) && QDBusConnection::sessionBus().isConnected();
    }
    if (connected) {
      QDBusMessage m = QDBusMessage::createSignal("/com/canonical/unity/launcherentry/torvel",
                                                  "com.canonical.Unity.LauncherEntry", "Update");
      QVariantMap props;
      props["progress"] = fraction;
      props["progress-visible"] = state != LauncherProgress::State::None;
      props["urgent"] = false;  // a paused run shows plain, not urgent
      m << uri << props;
      QDBusConnection::sessionBus().send(m);
    }
    // At most ten updates a second, whatever the run reports.
    std::unique_lock<std::mutex> lock(s->mutex);
    s->changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return s->stop; });
  }
}

// The socket of a "unix:path=..." or "unix:abstract=..." bus address; false
// for other transports.
bool unixAddress(const std::string& address, sockaddr_un& to, socklen_t& length) {
  const std::string first = address.substr(0, address.find(';'));
  to = {};
  to.sun_family = AF_UNIX;
  for (const char* key : {"unix:path=", "unix:abstract="}) {
    if (first.rfind(key, 0) != 0) continue;
    const std::string name = first.substr(std::strlen(key), first.find(',') - std::strlen(key));
    const bool abstract = key[5] == 'a';
    if (name.size() + 1 >= sizeof to.sun_path) return false;
    std::memcpy(to.sun_path + (abstract ? 1 : 0), name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (abstract ? 1 : 0));
    return true;
  }
  return false;
}

// Sends `text` and reads a line back within the time left; the line read.
std::string exchange(int fd, const std::string& text, int timeoutMs) {
  if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) return {};
  std::string line;
  pollfd p{fd, POLLIN, 0};
  char c;
  while (line.size() < 512 && ::poll(&p, 1, timeoutMs) == 1 && ::read(fd, &c, 1) == 1) {
    line += c;
    if (c == '\n') break;
  }
  return line;
}

}  // namespace

bool sessionBusAnswers(int timeoutMs) {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  sockaddr_un to;
  socklen_t length = 0;
  if (!address || !*address || !unixAddress(address, to, length)) return true;  // the library decides
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool answers = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), length) == 0) {
    char uid[16];
    std::snprintf(uid, sizeof uid, "%u", static_cast<unsigned>(::getuid()));
    std::string hex;
    for (const char* c = uid; *c; ++c) hex += "3" + std::string(1, *c);  // ASCII digits in hex
    answers = exchange(fd, std::string(1, '\0') + "AUTH EXTERNAL " + hex + "\r\n", timeoutMs).rfind("OK ", 0) == 0;
  }
  ::close(fd);
  return answers;
}

LauncherProgress::LauncherProgress(const QString& desktopId) : shared_(std::make_shared<Shared>()) {
  shared_->appUri = "application://" + desktopId + ".desktop";
  thread_ = std::thread(sendLoop, shared_);
}

LauncherProgress::~LauncherProgress() {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stop = true;
    shared_->changed.notify_all();
  }
  thread_.join();
}

void LauncherProgress::setValue(qint64 value, qint64 max) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  const double f = max > 0 ? std::clamp(double(value) / double(max), 0.0, 1.0) : 0.0;
  if (f == shared_->fraction) return;
  shared_->fraction = f;
  shared_->dirty = true;
  shared_->changed.notify_all();
}

void LauncherProgress::setState(State state) {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  if (state == shared_->state) return;
  shared_->state = state;
  shared_->dirty = true;
  shared_->changed.notify_all();
}

LauncherProgress::State LauncherProgress::state() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->state;
}

}  // namespace torvel
