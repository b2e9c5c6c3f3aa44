// The tile resizer: a worker thread that scales one size-named RAW file by a
// divider and writes the result beside it under a name carrying the new size.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "resize/image.h"

class TRawResize {
 public:
  TRawResize() = default;
  TRawResize(const TRawResize&) = delete;
  TRawResize& operator=(const TRawResize&) = delete;
  ~TRawResize();  // waits for a started body: a worker is never cut short

  // Bits: the samples of the file, 8 or 16.
  void Init(const std::string& InFile, long double aDivider, bool Fast, int Bits = 8);
  void Start();
  bool Finished() const { return finished_.load(std::memory_order_acquire); }

  // Fields, read by the creator once Finished is true.
  bool FastMethod = false;
  std::string SrcFileName;
  std::string OutFileName;
  long double Divider = 1;
  bool Error = false;
  TImageFormat Format = ifR8G8B8;

  // The work itself, run by the thread; public so tests can run it inline.
  void ResizeTile();

 private:
  void Execute();
  std::thread thread_;
  std::atomic<bool> finished_{false};
};
