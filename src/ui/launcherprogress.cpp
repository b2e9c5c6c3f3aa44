#include "ui/launcherprogress.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <chrono>
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
      connected = QDBusConnection::sessionBus().isConnected();
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
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

LauncherProgress::LauncherProgress(const QString& desktopId) : shared_(std::make_shared<Shared>()) {
  shared_->appUri = "application://" + desktopId + ".desktop";
  std::thread(sendLoop, shared_).detach();
}

LauncherProgress::~LauncherProgress() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->stop = true;
  shared_->changed.notify_all();
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
