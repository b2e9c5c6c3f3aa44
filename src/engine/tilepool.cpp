#include "engine/tilepool.h"

#include <pthread.h>

#include <exception>
#include <new>

namespace torvel {

TilePool::TilePool(unsigned threads, size_t waiting, Work work) : work_(std::move(work)), waiting_(waiting) {
  for (unsigned i = 0; i < std::max(1u, threads); ++i) threads_.emplace_back([this] { run(); });
}

TilePool::~TilePool() {
  stop();
  for (std::thread& t : threads_) t.join();
}

bool TilePool::submit(TilePiece&& tile) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return stopping_ || queue_.size() < waiting_; });
  if (stopping_) return false;
  queue_.push_back(std::move(tile));
  changed_.notify_all();
  return true;
}

bool TilePool::finish(std::string& why) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return stopping_ || (queue_.empty() && busy_ == 0); });
  why = failure_;
  return failure_.empty() && !stopping_;
}

void TilePool::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
  queue_.clear();
  changed_.notify_all();
}

uint64_t TilePool::done() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_;
}

void TilePool::run() {
  pthread_setname_np(pthread_self(), "tile-coder");
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    TilePiece tile = std::move(queue_.front());
    queue_.pop_front();
    ++busy_;
    changed_.notify_all();
    lock.unlock();
    std::string why;
    bool ok = false;
    try {
      ok = work_(tile, why);
    } catch (const std::bad_alloc&) {
      why = "Not enough memory to code a tile";
    } catch (const std::exception& e) {
      why = e.what();
    }
    lock.lock();
    --busy_;
    ++done_;
    if (!ok && failure_.empty()) {
      failure_ = why.empty() ? "a tile could not be written" : why;
      stopping_ = true;
      queue_.clear();
    }
    changed_.notify_all();
  }
}

}  // namespace torvel
