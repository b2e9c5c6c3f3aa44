// Runs one operation at a time on a worker thread and brings its reports to
// the window's thread as queued signals, the newest progress and status
// only. The window owns the cancel request and the pause: a paused run waits
// at its next progress report, on the worker thread, until it is continued
// or cancelled. The one question a run may ask, whether to replace an
// existing output, is answered on the window's thread while the run waits;
// nothing else of the engine waits for the window.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>

#include "engine/run.h"

namespace torvel {

class RunController : public QObject {
  Q_OBJECT
 public:
  using Job = std::function<RunResult(const RunContext&)>;
  // The paths of the outputs that exist: one, or all of a run of several.
  using ReplaceQuestion = std::function<bool(const QStringList& paths)>;

  // `askReplace` answers the overwrite question on the window's thread.
  explicit RunController(ReplaceQuestion askReplace, QObject* parent = nullptr);
  ~RunController() override;  // cancels a running job and waits for it

  bool running() const { return running_; }
  // Starts `job` with the given overwrite policy (Ask: `askReplace`).
  void start(Job job, Overwrite overwrite = Overwrite::Ask);
  void cancel();
  bool cancelRequested() const { return stop_.stop_requested(); }
  void setPaused(bool paused);
  bool paused() const;
  // Whether the last run's overwrite question was answered No.
  bool replacementRefused() const { return replacementRefused_; }

  class WorkerObserver;

 signals:
  void statusChanged(const QString& text);
  void progressStarted(qint64 max, const QString& caption);
  void progressChanged(qint64 position);
  void captionChanged(const QString& caption);
  void progressEnded();
  void noted(const QString& text);
  void finished(const torvel::RunResult& result);

 private:
  bool askOnWindow(const std::vector<std::string>& paths);
  void waitWhilePaused();
  void post(std::function<void()> call);
  void beginPhase();
  void postProgress(int64_t done, const std::string& status, const std::string& caption);
  void finish(const RunResult& result);

  ReplaceQuestion askReplace_;
  std::thread thread_;
  std::stop_source stop_;
  bool running_ = false;
  std::atomic<bool> abandoned_{false};
  std::atomic<bool> replacementRefused_{false};

  mutable std::mutex pauseMutex_;
  std::condition_variable_any pauseChanged_;
  bool paused_ = false;

  // The newest progress and status text; one delivery is queued at a time.
  std::mutex progressMutex_;
  uint64_t phaseNumber_ = 0;
  int64_t done_ = 0;
  std::string status_, caption_;
  bool progressQueued_ = false;
};

}  // namespace torvel
