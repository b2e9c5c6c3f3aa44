// One helper thread that runs one job at a time for its owner: the owner
// hands a job over, goes on with its own work and later waits for it. The
// thread starts with the first job and ends with the owner. A job reports
// its failure through what it captures; it must not throw.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace torvel {

class BackgroundJob {
 public:
  BackgroundJob() = default;
  BackgroundJob(const BackgroundJob&) = delete;
  BackgroundJob& operator=(const BackgroundJob&) = delete;
  ~BackgroundJob();

  // Starts `job`; the one before must have been waited for.
  void run(std::function<void()> job);
  // Returns once the job handed over last has ended (at once when none runs).
  void wait();

 private:
  void loop();
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> job_;
  bool pending_ = false, stopping_ = false, running_ = false;
};

}  // namespace torvel
