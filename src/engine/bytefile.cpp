#include "engine/bytefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {
std::atomic<int64_t> g_writeBudget{-1};
}

void TByteFile::SetWriteBudgetForTests(int64_t bytes) { g_writeBudget = bytes; }

TByteFile::~TByteFile() { Close(); }

bool TByteFile::OpenRead(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    error_ = errno;
    return false;
  }
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return true;
}

bool TByteFile::Create(const std::string& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    error_ = errno;
    return false;
  }
  return true;
}

bool TByteFile::Seek(int64_t pos) {
  if (fd_ < 0) {
    error_ = EBADF;
    return false;
  }
  if (::lseek(fd_, pos, SEEK_SET) < 0) {
    error_ = errno;
    return false;
  }
  return true;
}

int64_t TByteFile::Size() {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

size_t TByteFile::Read(void* buf, size_t len) {
  if (fd_ < 0) {
    error_ = EBADF;
    return 0;
  }
  auto* p = static_cast<char*>(buf);
  size_t done = 0;
  while (done < len) {
    ssize_t n = ::read(fd_, p + done, len - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

size_t TByteFile::Write(const void* buf, size_t len) {
  if (fd_ < 0) {
    error_ = EBADF;
    return 0;
  }
  size_t allowed = len;
  int64_t budget = g_writeBudget.load();
  if (budget >= 0) {
    allowed = budget < static_cast<int64_t>(len) ? static_cast<size_t>(budget) : len;
    g_writeBudget = budget - static_cast<int64_t>(allowed);
  }
  const auto* p = static_cast<const char*>(buf);
  size_t done = 0;
  while (done < allowed) {
    ssize_t n = ::write(fd_, p + done, allowed - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return done;
    }
    done += static_cast<size_t>(n);
  }
  if (done < len) error_ = ENOSPC;
  return done;
}

void TByteFile::Close() {
  if (fd_ >= 0) {
    if (::close(fd_) != 0 && error_ == 0) error_ = errno;
    fd_ = -1;
  }
}

int TByteFile::TakeError() {
  int e = error_;
  error_ = 0;
  return e;
}
