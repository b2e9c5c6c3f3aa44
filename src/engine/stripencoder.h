// Compresses a TIFF's strips on every core with the library's own codec and
// hands them back in row order, so the writer puts exactly the bytes it would
// have made itself. Each worker encodes into memory through a handle of its
// own; at most `queue` rows are in flight.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace torvel {

class StripEncoder {
 public:
  struct Settings {
    uint32_t width = 0, height = 0;
    int bits = 8, samples = 3;
    uint16_t compression = 0;
    bool bigTiff = false;
  };
  // Puts one finished strip into the file; false when that failed.
  using StripWriter = std::function<bool(uint32_t strip, const std::vector<uint8_t>& bytes)>;

  StripEncoder(const Settings& settings, unsigned threads, size_t queue);
  ~StripEncoder();
  StripEncoder(const StripEncoder&) = delete;
  StripEncoder& operator=(const StripEncoder&) = delete;

  // Opens the workers' encoders; false (and why) when one cannot be had.
  bool start(std::string& why);
  // Queues the next row (one row per strip, rows in order) and writes the
  // strips that are ready; false (and why) when a strip failed.
  bool add(const uint8_t* row, size_t bytes, const StripWriter& write, std::string& why);
  // Writes every strip still queued, in order.
  bool drain(const StripWriter& write, std::string& why);

  struct Encoder;

 private:
  enum class State { Free, Queued, Done, Failed };
  struct Job {
    std::vector<uint8_t> row, strip;
    uint32_t index = 0;
    State state = State::Free;
    std::string error;
  };

  enum class Step { Written, NotReady, Failed };
  void work(Encoder& encoder);
  static bool encode(Encoder& encoder, Job& job, std::string& why);
  Step writeNext(const StripWriter& write, bool wait, std::string& why);

  Settings settings_;
  unsigned threadCount_;
  std::vector<std::unique_ptr<Encoder>> encoders_;
  std::vector<std::thread> threads_;
  std::vector<Job> jobs_;
  std::deque<uint32_t> queued_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  uint32_t nextRow_ = 0, nextWrite_ = 0;
};

}  // namespace torvel
