#include "ui/taskbar.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct TTaskbarProgress::TShared {
  std::mutex Mutex;
  std::condition_variable Changed;
  QString AppUri;
  TState State = tsNone;
  double Fraction = 0;
  bool Dirty = false;
  bool Stop = false;
};

namespace {

void SendLoop(std::shared_ptr<TTaskbarProgress::TShared> s) {
  bool connected = false, tried = false;
  for (;;) {
    TTaskbarProgress::TState state;
    double fraction;
    QString uri;
    {
      std::unique_lock<std::mutex> lock(s->Mutex);
      s->Changed.wait(lock, [&] { return s->Dirty || s->Stop; });
      if (s->Stop) return;
      s->Dirty = false;
      state = s->State;
      fraction = s->Fraction;
      uri = s->AppUri;
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
      props["progress-visible"] = state != TTaskbarProgress::tsNone;
      props["urgent"] = false;  // a paused run shows plain, not urgent
      m << uri << props;
      QDBusConnection::sessionBus().send(m);
    }
    // At most ten updates a second, whatever the run reports.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

TTaskbarProgress::TTaskbarProgress(const QString& DesktopId) : shared_(std::make_shared<TShared>()) {
  shared_->AppUri = "application://" + DesktopId + ".desktop";
  std::thread(SendLoop, shared_).detach();
}

TTaskbarProgress::~TTaskbarProgress() {
  std::lock_guard<std::mutex> lock(shared_->Mutex);
  shared_->Stop = true;
  shared_->Changed.notify_all();
}

void TTaskbarProgress::SetProgressValue(qint64 Value, qint64 Max) {
  std::lock_guard<std::mutex> lock(shared_->Mutex);
  const double f = Max > 0 ? std::clamp(double(Value) / double(Max), 0.0, 1.0) : 0.0;
  if (f == shared_->Fraction) return;
  shared_->Fraction = f;
  shared_->Dirty = true;
  shared_->Changed.notify_all();
}

void TTaskbarProgress::SetProgressState(TState State) {
  std::lock_guard<std::mutex> lock(shared_->Mutex);
  if (State == shared_->State) return;
  shared_->State = State;
  shared_->Dirty = true;
  shared_->Changed.notify_all();
}

TTaskbarProgress::TState TTaskbarProgress::State() const {
  std::lock_guard<std::mutex> lock(shared_->Mutex);
  return shared_->State;
}
