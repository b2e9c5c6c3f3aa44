// A plain byte-stream file over a POSIX descriptor that keeps one sticky
// error: operations after a failure keep failing quietly, and the caller asks
// once what went wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvel {

class ByteFile {
 public:
  ByteFile() = default;
  ByteFile(const ByteFile&) = delete;
  ByteFile& operator=(const ByteFile&) = delete;
  ~ByteFile();

  // Opens a regular file for reading. The open never blocks: a FIFO, a
  // device or a socket is refused with notRegularFile.
  bool openRead(const std::string& path);
  // Creates a new file for writing; never through a symlink, never an
  // existing name (EEXIST).
  bool createNew(const std::string& path);
  // Takes over an open descriptor (closing the one held).
  void adopt(int fd);
  // Hands the descriptor over to the caller; -1 when none is open.
  int release();
  bool seek(int64_t pos);
  int64_t size();  // -1 when it cannot be told
  // Reads until `len` bytes or the end of the file; returns the count read.
  size_t read(void* buf, size_t len);
  // The same at a position, leaving the file position alone.
  size_t readAt(int64_t pos, void* buf, size_t len);
  // Writes all or sets the error; returns the count written.
  size_t write(const void* buf, size_t len);
  // The same at a position, leaving the file position alone.
  size_t writeAt(int64_t pos, const void* buf, size_t len);
  // Writes `count` pieces of `piece` bytes that lie `stride` apart in memory
  // one after another into the file, with one system call for many of them
  // (the rows of a tile straight from the input's buffer); as write().
  size_t writeSpaced(const void* first, size_t stride, size_t piece, size_t count);
  size_t writeSpacedAt(int64_t pos, const void* first, size_t stride, size_t piece, size_t count);
  void close();
  bool isOpen() const { return fd_ >= 0; }

  // Returns the pending error (an errno value or notRegularFile, 0 for
  // none) and clears it.
  int takeError();

  // The error of an input that is not a regular file; systemErrorText knows it.
  static constexpr int notRegularFile = 0x10000;

  // Test seam: after this many more bytes, writes of every ByteFile fail as
  // on a full disk. Negative disables it.
  static void setWriteBudgetForTests(int64_t bytes);

 private:
  template <class Io>
  size_t readLoop(void* buf, size_t len, Io io);
  template <class Io>
  size_t writeLoop(const uint8_t* first, size_t stride, size_t piece, size_t count, Io io);
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace torvel
