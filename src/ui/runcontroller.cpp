#include "ui/runcontroller.h"

#include <pthread.h>

#include <chrono>
#include <future>
#include <new>

#include "engine/runtexts.h"

namespace torvel {

// Reports of the running job, sent on as queued signals; progress and
// status arrive for every row, and only the newest one waiting is delivered.
class RunController::WorkerObserver : public RunObserver {
 public:
  explicit WorkerObserver(RunController& c) : c_(c) {}
  void phaseStarted(const PhaseStart& phase) override {
    phase_ = phase;
    c_.beginPhase();
    const QString caption = QString::fromStdString(stepCaption(phase, {}));
    const qint64 total = phase.total;
    c_.post([c = &c_, total, caption] { emit c->progressStarted(total, caption); });
  }
  void progressed(const Progress& progress) override {
    // Only the resize's tiles change the caption within a phase: no second text per row elsewhere.
    const bool captionMoves = phase_.phase == Phase::ScalingTiles;
    c_.postProgress(progress.done, statusText(phase_, progress), captionMoves ? stepCaption(phase_, progress) : "");
    c_.waitWhilePaused();
  }
  void phaseEnded() override {
    c_.post([c = &c_] { emit c->progressEnded(); });
  }
  void note(const std::string& text) override {
    const QString q = QString::fromStdString(text);
    c_.post([c = &c_, q] { emit c->noted(q); });
  }

 private:
  RunController& c_;
  PhaseStart phase_;
};

RunController::RunController(ReplaceQuestion askReplace, QObject* parent)
    : QObject(parent), askReplace_(std::move(askReplace)) {}

RunController::~RunController() {
  abandoned_ = true;
  stop_.request_stop();
  pauseChanged_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void RunController::post(std::function<void()> call) {
  QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

// The question on the window's thread while the run's thread waits; No when
// the window has gone meanwhile.
bool RunController::askOnWindow(const std::vector<std::string>& paths) {
  QStringList list;
  for (const std::string& p : paths) list << QString::fromStdString(p);
  auto task = std::make_shared<std::packaged_task<bool()>>([this, list] { return askReplace_ && askReplace_(list); });
  std::future<bool> answer = task->get_future();
  post([task] { (*task)(); });
  while (answer.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
    if (abandoned_) return false;
  bool yes = false;
  try {
    yes = answer.get();
  } catch (...) {  // the call was dropped with the window
  }
  if (!yes) replacementRefused_ = true;
  return yes;
}

void RunController::start(Job job, Overwrite overwrite) {
  if (running_) return;
  if (thread_.joinable()) thread_.join();  // it has reported its end: nothing left to wait for
  stop_ = std::stop_source();
  setPaused(false);
  running_ = true;
  replacementRefused_ = false;
  thread_ = std::thread([this, job = std::move(job), overwrite] {
    pthread_setname_np(pthread_self(), "run");
    WorkerObserver observer(*this);
    const RunContext context(&observer, stop_.get_token(), overwrite,
                             [this](const std::vector<std::string>& paths) { return askOnWindow(paths); });
    RunResult result;
    // Whatever the job throws ends it as a failure with the reason, never the program.
    try {
      result = job(context);
    } catch (const std::bad_alloc&) {
      result = {Outcome::Failed, "Not enough memory to complete the operation", {}};
    } catch (const std::exception& e) {
      result = {Outcome::Failed, e.what(), {}};
    }
    if (!abandoned_) post([this, result] { finish(result); });
  });
}

void RunController::finish(const RunResult& result) {
  if (thread_.joinable()) thread_.join();
  running_ = false;
  emit finished(result);
}

void RunController::cancel() {
  stop_.request_stop();
  pauseChanged_.notify_all();
}

void RunController::setPaused(bool paused) {
  {
    std::lock_guard<std::mutex> lock(pauseMutex_);
    paused_ = paused;
  }
  pauseChanged_.notify_all();
}

bool RunController::paused() const {
  std::lock_guard<std::mutex> lock(pauseMutex_);
  return paused_;
}

void RunController::waitWhilePaused() {
  std::unique_lock<std::mutex> lock(pauseMutex_);
  pauseChanged_.wait(lock, stop_.get_token(), [this] { return !paused_; });
}

// A delivery queued in the phase before carries none of this phase's progress.
void RunController::beginPhase() {
  std::lock_guard<std::mutex> lock(progressMutex_);
  ++phaseNumber_;
  progressQueued_ = false;
}

void RunController::postProgress(int64_t done, const std::string& status, const std::string& caption) {
  std::lock_guard<std::mutex> lock(progressMutex_);
  done_ = done;
  status_ = status;
  caption_ = caption;
  if (progressQueued_) return;
  progressQueued_ = true;
  post([this, phase = phaseNumber_] {
    qint64 position;
    QString text, caption;
    {
      std::lock_guard<std::mutex> lock(progressMutex_);
      if (phase != phaseNumber_) return;
      position = done_;
      text = QString::fromStdString(status_);
      caption = QString::fromStdString(caption_);
      progressQueued_ = false;
    }
    emit progressChanged(position);
    if (!caption.isEmpty()) emit captionChanged(caption);
    if (!text.isEmpty()) emit statusChanged(text);
  });
}

}  // namespace torvel
