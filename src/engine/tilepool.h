// Threads that take a pyramid's tiles as they are cut and do the work on
// each (code it, store it), on every core, a bounded number in waiting.
// Every thread returns its failure: the first one stops the pool.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/tilebands.h"

namespace torvel {

class TilePool {
 public:
  // Works on one tile; false with `why` stops the pool.
  using Work = std::function<bool(TilePiece& tile, std::string& why)>;
  TilePool(unsigned threads, size_t waiting, Work work);
  ~TilePool();
  TilePool(const TilePool&) = delete;
  TilePool& operator=(const TilePool&) = delete;

  // Hands a tile over, waiting while the queue is full; false once the pool has stopped.
  bool submit(TilePiece&& tile);
  // Waits for every tile handed over; false with the first failure's reason.
  bool finish(std::string& why);
  // Stops at once: tiles waiting are dropped.
  void stop();
  uint64_t done() const;

 private:
  void run();
  Work work_;
  size_t waiting_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TilePiece> queue_;
  size_t busy_ = 0;
  uint64_t done_ = 0;
  bool stopping_ = false;
  std::string failure_;
  std::vector<std::thread> threads_;
};

}  // namespace torvel
