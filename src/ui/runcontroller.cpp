#include "ui/runcontroller.h"

#include <pthread.h>

#include <chrono>
#include <future>

namespace torvel {

template <class T>
T RunController::callOnWindow(std::function<T()> call, T fallback) {
  auto task = std::make_shared<std::packaged_task<T()>>(std::move(call));
  std::future<T> answer = task->get_future();
  QMetaObject::invokeMethod(this, [task] { (*task)(); }, Qt::QueuedConnection);
  while (answer.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
    if (abandoned_) return fallback;
  try {
    return answer.get();
  } catch (...) {  // the call was dropped with the window
    return fallback;
  }
}

// Reports of the running job, sent on as queued signals. Status texts arrive
// for every line: only the newest one waiting is delivered.
class RunController::WorkerObserver : public RunObserver {
 public:
  explicit WorkerObserver(RunController& c) : c_(c) {}
  void status(const std::string& text) override { c_.postStatus(text); }
  void progressBegin(int64_t max, const std::string& caption) override {
    const QString q = QString::fromStdString(caption);
    QMetaObject::invokeMethod(&c_, [c = &c_, max, q] { emit c->progressStarted(max, q); }, Qt::QueuedConnection);
  }
  void progress(int64_t position) override {
    QMetaObject::invokeMethod(&c_, [c = &c_, position] { emit c->progressChanged(position); }, Qt::QueuedConnection);
    c_.waitWhilePaused();
  }
  void progressEnd() override {
    QMetaObject::invokeMethod(&c_, [c = &c_] { emit c->progressEnded(); }, Qt::QueuedConnection);
  }
  // The run waits until the user has seen the failure.
  void error(const std::string& text) override {
    const QString q = QString::fromStdString(text);
    c_.callOnWindow<bool>([c = &c_, q] { return c->showError_(q), true; }, false);
  }

 private:
  RunController& c_;
};

class RunController::WorkerPrompt : public Prompt {
 public:
  explicit WorkerPrompt(RunController& c) : c_(c) {}
  void message(const std::string& text) override {
    c_.callOnWindow<bool>([p = &c_.prompt_, text] { return p->message(text), true; }, false);
  }
  void errorBox(const std::string& text) override {
    c_.callOnWindow<bool>([p = &c_.prompt_, text] { return p->errorBox(text), true; }, false);
  }
  bool askYesNo(const std::string& question) override {
    return c_.callOnWindow<bool>([p = &c_.prompt_, question] { return p->askYesNo(question); }, false);
  }
  bool askRawGeometry(int64_t fileSize, uint32_t& width, uint32_t& height, int& bits) override {
    struct Geometry {
      bool given;
      uint32_t width, height;
      int bits;
    };
    const Geometry g = c_.callOnWindow<Geometry>(
        [p = &c_.prompt_, fileSize, width, height] {
          Geometry r{false, width, height, 0};
          r.given = p->askRawGeometry(fileSize, r.width, r.height, r.bits);
          return r;
        },
        Geometry{false, 0, 0, 0});
    width = g.width;
    height = g.height;
    bits = g.bits;
    return g.given;
  }

 private:
  RunController& c_;
};

RunController::RunController(Prompt& prompt, std::function<void(const QString&)> showError, QObject* parent)
    : QObject(parent), prompt_(prompt), showError_(std::move(showError)) {}

RunController::~RunController() {
  abandoned_ = true;
  stop_.request_stop();
  if (thread_.joinable()) thread_.join();
}

void RunController::start(Job job) {
  if (running_) return;
  if (thread_.joinable()) thread_.join();
  stop_ = std::stop_source();
  setPaused(false);
  running_ = true;
  thread_ = std::thread([this, job = std::move(job)] {
    pthread_setname_np(pthread_self(), "run");
    WorkerObserver observer(*this);
    WorkerPrompt prompt(*this);
    const RunResult result = job(RunContext(&observer, &prompt, stop_.get_token()));
    if (!abandoned_) QMetaObject::invokeMethod(this, [this, result] { finish(result); }, Qt::QueuedConnection);
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

void RunController::postStatus(const std::string& text) {
  std::lock_guard<std::mutex> lock(statusMutex_);
  status_ = text;
  if (statusQueued_) return;
  statusQueued_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        QString text;
        {
          std::lock_guard<std::mutex> lock(statusMutex_);
          text = QString::fromStdString(status_);
          statusQueued_ = false;
        }
        emit statusChanged(text);
      },
      Qt::QueuedConnection);
}

}  // namespace torvel
