#include "engine/throughput.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace torvel {

namespace {

// Bytes this process has read so far, page cache included (/proc/self/io).
int64_t bytesRead() {
  FILE* f = std::fopen("/proc/self/io", "r");
  long long read = -1;
  if (f) {
    if (std::fscanf(f, "rchar: %lld", &read) != 1) read = -1;
    std::fclose(f);
  }
  return read;
}

}  // namespace

void Throughput::start() {
  started_ = Clock::now();
  pausedFor_ = {};
  if (paused_) pausedAt_ = started_;
  readAtStart_ = bytesRead();
}

void Throughput::setPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  if (paused)
    pausedAt_ = Clock::now();
  else
    pausedFor_ += Clock::now() - pausedAt_;
}

double Throughput::elapsed() const {
  const Clock::time_point now = paused_ ? pausedAt_ : Clock::now();
  return std::chrono::duration<double>(now - started_ - pausedFor_).count();
}

std::string Throughput::speedText() const {
  const double seconds = elapsed();
  const int64_t read = bytesRead();
  if (seconds <= 0.1 || read < 0) return "   -- MB/s";
  char text[32];
  std::snprintf(text, sizeof text, "%6.1f MB/s", double(read - readAtStart_) / 1e6 / seconds);
  return text;
}

std::string Throughput::leftText(double done) const {
  const double seconds = elapsed();
  if (seconds <= 0.1 || done <= 0) return "--:-- left";
  return clockText(seconds * (1 - std::min(done, 1.0)) / done) + " left";
}

std::string clockText(double seconds) {
  const long s = std::lround(std::max(0.0, seconds));
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

}  // namespace torvel
