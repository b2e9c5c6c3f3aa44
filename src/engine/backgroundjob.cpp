#include "engine/backgroundjob.h"

#include <pthread.h>

#include <system_error>

namespace torvel {

BackgroundJob::~BackgroundJob() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BackgroundJob::run(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = std::move(job);
    pending_ = true;
  }
  running_ = true;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { loop(); });
    } catch (const std::system_error&) {  // no thread to be had: the job runs here
      job_();
      pending_ = false;
      return;
    }
  }
  changed_.notify_all();
}

void BackgroundJob::wait() {
  if (!running_) return;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !pending_; });
  running_ = false;
}

void BackgroundJob::loop() {
  pthread_setname_np(pthread_self(), "background-job");
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || pending_; });
    if (pending_) {
      lock.unlock();
      job_();
      lock.lock();
      pending_ = false;
      changed_.notify_all();
    } else if (stopping_) {
      return;
    }
  }
}

}  // namespace torvel
