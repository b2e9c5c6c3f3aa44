// How fast a phase goes and how long it has left, as both front ends show
// them: the speed is what the process reads (page cache included), the time
// left follows from the share done so far; paused time counts for neither.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace torvel {

class Throughput {
 public:
  void start();
  void setPaused(bool paused);
  // "120.5 MB/s", or "-- MB/s" in the first tenth of a second.
  std::string speedText() const;
  // "0:12 left" for the share `done` (0 to 1), or "--:-- left" before anything is done.
  std::string leftText(double done) const;

 private:
  using Clock = std::chrono::steady_clock;
  double elapsed() const;
  Clock::time_point started_, pausedAt_;
  Clock::duration pausedFor_{};
  bool paused_ = false;
  int64_t readAtStart_ = 0;
};

// "1:05" or "1:02:05".
std::string clockText(double seconds);

}  // namespace torvel
