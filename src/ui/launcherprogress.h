// Progress on the program's launcher entry (task-bar button), sent as the
// com.canonical.Unity.LauncherEntry Update signal on the session bus. The bus
// is reached from a thread of its own: a missing bus costs nothing, and a bus
// that never answers can neither stall the window nor delay its exit.
#pragma once

#include <QString>
#include <memory>

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
};

}  // namespace torvel
