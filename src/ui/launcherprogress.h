// Progress on the program's launcher entry (task-bar button), sent as the
// com.canonical.Unity.LauncherEntry Update signal on the session bus. The bus
// is reached from a thread of its own, owned and joined: a missing bus costs
// nothing, and a bus that never answers is found out by a short handshake
// before the library's first (blocking) call, so it can neither stall the
// window nor delay its exit by more than that.
#pragma once

#include <QString>
#include <memory>
#include <thread>

namespace torvel {

class LauncherProgress {
 public:
  enum class State { None, Normal, Paused };
  explicit LauncherProgress(const QString& desktopId);
  ~LauncherProgress();
  LauncherProgress(const LauncherProgress&) = delete;
  LauncherProgress& operator=(const LauncherProgress&) = delete;

  void setValue(qint64 value, qint64 max);
  void setState(State state);
  State state() const;

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

// Whether the session bus named by DBUS_SESSION_BUS_ADDRESS answers its
// authentication within `timeoutMs`; true for transports it cannot check.
bool sessionBusAnswers(int timeoutMs);

}  // namespace torvel
