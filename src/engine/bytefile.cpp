#include "engine/bytefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace torvel {

namespace {
std::atomic<int64_t> writeBudget{-1};

// Bytes a write may still put on disk under the test budget.
size_t allowedByBudget(size_t len) {
  int64_t budget = writeBudget.load();
  while (budget >= 0) {
    const int64_t allowed = budget < static_cast<int64_t>(len) ? budget : static_cast<int64_t>(len);
    if (writeBudget.compare_exchange_weak(budget, budget - allowed)) return static_cast<size_t>(allowed);
  }
  return len;
}
}  // namespace

void ByteFile::setWriteBudgetForTests(int64_t bytes) { writeBudget = bytes; }

ByteFile::~ByteFile() { close(); }

bool ByteFile::openRead(const std::string& path) {
  close();
  // O_NONBLOCK: opening a FIFO would otherwise wait for a writer forever.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    error_ = errno;
    return false;
  }
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    error_ = notRegularFile;
    close();
    return false;
  }
  ::fcntl(fd_, F_SETFL, O_RDONLY);
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return true;
}

bool ByteFile::createNew(const std::string& path) {
  close();
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd_ < 0) {
    error_ = errno;
    return false;
  }
  return true;
}

void ByteFile::adopt(int fd) {
  close();
  fd_ = fd;
}

int ByteFile::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

bool ByteFile::seek(int64_t pos) {
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

int64_t ByteFile::size() {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

// Reads until `len` bytes, the end of the file or an error; `io` reads
// at most n bytes at an offset from the start of the transfer.
template <class Io>
size_t ByteFile::readLoop(void* buf, size_t len, Io io) {
  if (fd_ < 0) {
    error_ = EBADF;
    return 0;
  }
  auto* p = static_cast<char*>(buf);
  size_t done = 0;
  while (done < len) {
    const ssize_t n = io(p + done, len - done, done);
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

size_t ByteFile::read(void* buf, size_t len) {
  return readLoop(buf, len, [this](char* p, size_t n, size_t) { return ::read(fd_, p, n); });
}

size_t ByteFile::readAt(int64_t pos, void* buf, size_t len) {
  return readLoop(buf, len, [this, pos](char* p, size_t n, size_t done) {
    return ::pread(fd_, p, n, pos + static_cast<int64_t>(done));
  });
}

// Writes all of the pieces, or as many bytes as the test budget allows and
// then the error; `io` writes an iovec array at an offset from the start.
template <class Io>
size_t ByteFile::writeLoop(const uint8_t* first, size_t stride, size_t piece, size_t count, Io io) {
  if (fd_ < 0) {
    error_ = EBADF;
    return 0;
  }
  if (piece == 0 || count == 0) return 0;
  const size_t len = piece * count, allowed = allowedByBudget(len);
  constexpr int most = 256;
  iovec pieces[most];
  size_t done = 0;
  while (done < allowed) {
    int n = 0;
    size_t left = allowed - done;
    for (size_t i = done / piece, at = done % piece; n < most && left > 0; ++i, ++n, at = 0) {
      pieces[n].iov_base = const_cast<uint8_t*>(first + i * stride + at);
      pieces[n].iov_len = std::min(piece - at, left);
      left -= pieces[n].iov_len;
    }
    const ssize_t w = io(pieces, n, done);
    if (w < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return done;
    }
    done += static_cast<size_t>(w);
  }
  if (done < len) error_ = ENOSPC;
  return done;
}

size_t ByteFile::write(const void* buf, size_t len) { return writeSpaced(buf, len, len, 1); }

size_t ByteFile::writeAt(int64_t pos, const void* buf, size_t len) { return writeSpacedAt(pos, buf, len, len, 1); }

size_t ByteFile::writeSpaced(const void* first, size_t stride, size_t piece, size_t count) {
  return writeLoop(static_cast<const uint8_t*>(first), stride, piece, count,
                   [this](const iovec* v, int n, size_t) { return ::writev(fd_, v, n); });
}

size_t ByteFile::writeSpacedAt(int64_t pos, const void* first, size_t stride, size_t piece, size_t count) {
  return writeLoop(static_cast<const uint8_t*>(first), stride, piece, count,
                   [this, pos](const iovec* v, int n, size_t done) {
                     return ::pwritev(fd_, v, n, pos + static_cast<int64_t>(done));
                   });
}

void ByteFile::close() {
  if (fd_ >= 0) {
    if (::close(fd_) != 0 && error_ == 0) error_ = errno;
    fd_ = -1;
  }
}

int ByteFile::takeError() {
  const int e = error_;
  error_ = 0;
  return e;
}

}  // namespace torvel
