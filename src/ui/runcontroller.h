// Runs one operation at a time on a worker thread and brings its reports to
// the window's thread as queued signals. The window owns the cancel request
// and the pause: a paused run waits at its next progress report, on the
// worker thread, until it is continued or cancelled. The engine's questions
// and error boxes are answered on the window's thread while the worker waits.
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

  // `prompt` answers the engine's questions on the window's thread;
  // `showError` shows a failure there.
  RunController(Prompt& prompt, std::function<void(const QString&)> showError, QObject* parent = nullptr);
  ~RunController() override;  // cancels a running job and waits for it

  bool running() const { return running_; }
  void start(Job job);
  void cancel();
  bool cancelRequested() const { return stop_.stop_requested(); }
  void setPaused(bool paused);
  bool paused() const;

  // The worker's side: its reports and questions.
  class WorkerObserver;
  class WorkerPrompt;

 signals:
  void statusChanged(const QString& text);
  void progressStarted(qint64 max, const QString& caption);
  void progressChanged(qint64 position);
  void progressEnded();
  void finished(const torvel::RunResult& result);

 private:
  // Runs `call` on the window's thread and waits for it; `fallback` when the
  // window has gone meanwhile. Called from the worker thread only.
  template <class T>
  T callOnWindow(std::function<T()> call, T fallback);
  void waitWhilePaused();
  void postStatus(const std::string& text);
  void finish(const RunResult& result);

  Prompt& prompt_;
  std::function<void(const QString&)> showError_;
  std::thread thread_;
  std::stop_source stop_;
  bool running_ = false;
  std::atomic<bool> abandoned_{false};

  mutable std::mutex pauseMutex_;
  std::condition_variable_any pauseChanged_;
  bool paused_ = false;

  // The newest status text; one delivery is queued at a time.
  std::mutex statusMutex_;
  std::string status_;
  bool statusQueued_ = false;
};

}  // namespace torvel
