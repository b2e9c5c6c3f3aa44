// Progress on the program's launcher entry (task-bar button), sent as the
// com.canonical.Unity.LauncherEntry Update signal on the session bus. The bus
// is reached from a thread of its own: a missing bus costs nothing, and a bus
// that never answers can neither stall the window nor delay its exit.
#pragma once

#include <QString>
#include <memory>

class TTaskbarProgress {
 public:
  enum TState { tsNone, tsNormal, tsPaused };
  explicit TTaskbarProgress(const QString& DesktopId);
  ~TTaskbarProgress();
  TTaskbarProgress(const TTaskbarProgress&) = delete;
  TTaskbarProgress& operator=(const TTaskbarProgress&) = delete;

  void SetProgressValue(qint64 Value, qint64 Max);
  void SetProgressState(TState State);
  TState State() const;

  struct TShared;

 private:
  std::shared_ptr<TShared> shared_;
};
