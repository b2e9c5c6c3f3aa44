// Compresses a TIFF's strips or tiles on every core with the library's own
// codec and hands them back in order, so the writer puts exactly the bytes
// the library would have made itself. Each worker encodes into memory
// through a handle of its own, set up with the file's own tags; at most
// `queue` chunks are in flight.
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

struct tiff;
typedef struct tiff TIFF;

namespace torvel {

class ChunkEncoder {
 public:
  struct Settings {
    // Sets the file's tags on a handle: every worker's is set up alike.
    std::function<void(TIFF*)> tags;
    bool tiled = false;
    bool bigTiff = false;
  };
  // Puts one finished chunk into the file; false when that failed.
  using ChunkWriter = std::function<bool(uint32_t chunk, const std::vector<uint8_t>& bytes)>;

  ChunkEncoder(Settings settings, unsigned threads, size_t queue);
  ~ChunkEncoder();
  ChunkEncoder(const ChunkEncoder&) = delete;
  ChunkEncoder& operator=(const ChunkEncoder&) = delete;

  // Opens the workers' encoders; false (and why) when one cannot be had.
  bool start(std::string& why);
  // Queues the next chunk (strips or tiles in the file's order) and writes
  // the chunks that are ready; false (and why) when a chunk failed.
  bool add(const uint8_t* chunk, size_t bytes, const ChunkWriter& write, std::string& why);
  // The same, the chunk's `bytes` made in place by `fill` (no copy between).
  using ChunkFiller = std::function<void(uint8_t* chunk)>;
  bool add(size_t bytes, const ChunkFiller& fill, const ChunkWriter& write, std::string& why);
  // Writes every chunk still queued, in order.
  bool drain(const ChunkWriter& write, std::string& why);
  // The tables a JPEG-compressed file holds for its abbreviated chunks: the
  // codec's own, from a chunk coded on a handle of its own. Empty for other codecs.
  std::vector<uint8_t> jpegTables();

  struct Encoder;

 private:
  enum class State { Free, Queued, Done, Failed };
  struct Job {
    std::vector<uint8_t> raw, coded;
    uint32_t index = 0;
    State state = State::Free;
    std::string error;
  };

  enum class Step { Written, NotReady, Failed };
  void work(Encoder& encoder);
  bool encode(Encoder& encoder, Job& job, std::string& why) const;
  Step writeNext(const ChunkWriter& write, bool wait, std::string& why);

  Settings settings_;
  unsigned threadCount_;
  std::vector<std::unique_ptr<Encoder>> encoders_;
  std::vector<std::thread> threads_;
  std::vector<Job> jobs_;
  std::deque<uint32_t> queued_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  uint32_t next_ = 0, nextWrite_ = 0;
};

}  // namespace torvel
