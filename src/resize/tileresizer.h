// The tile resizer: scales one size-named RAW file by a divider, on a thread
// of its own, and writes the result beside it under a name that carries the
// new size (and the tile's position, when it has one).
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "resize/resample.h"

namespace torvel {

class TileResizer {
 public:
  // `bits`: the samples of the file, 8 or 16.
  TileResizer(std::string sourcePath, long double divider, bool fast, int bits);
  ~TileResizer();  // waits for a started run: a tile is never cut short
  TileResizer(const TileResizer&) = delete;
  TileResizer& operator=(const TileResizer&) = delete;

  void start();
  // Waits for a started run to end.
  void wait();
  bool finished() const { return finished_.load(std::memory_order_acquire); }
  // The work itself, on the calling thread.
  void run();

  // Read once finished.
  const std::string& sourcePath() const { return sourcePath_; }
  const std::string& outputPath() const { return outputPath_; }  // empty when nothing was written
  bool failed() const { return !failure_.empty(); }
  const std::string& failure() const { return failure_; }  // why, naming the file

 private:
  std::string sourcePath_;
  long double divider_;
  ResizeFilter filter_;
  PixelFormat format_;
  std::string outputPath_;
  std::string failure_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
};

}  // namespace torvel
