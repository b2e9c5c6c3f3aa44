// A plain byte-stream file over a POSIX descriptor that keeps one sticky
// error, the way the engine's line loops expect: operations after a failure
// keep failing quietly, and the caller asks once per line what went wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TByteFile {
 public:
  TByteFile() = default;
  TByteFile(const TByteFile&) = delete;
  TByteFile& operator=(const TByteFile&) = delete;
  ~TByteFile();

  bool OpenRead(const std::string& path);
  // Creates or truncates for writing. An existing file is touched only when
  // the open succeeds.
  bool Create(const std::string& path);
  bool Seek(int64_t pos);
  int64_t Size();  // -1 when it cannot be told
  // Reads until `len` bytes or end of file; returns the count read.
  size_t Read(void* buf, size_t len);
  // Writes all or sets the error; returns the count written.
  size_t Write(const void* buf, size_t len);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Returns the pending error (an errno value, 0 for none) and clears it.
  int TakeError();

  // Test seam: after this many more bytes, writes of every TByteFile fail as
  // on a full disk. Negative disables it.
  static void SetWriteBudgetForTests(int64_t bytes);

 private:
  int fd_ = -1;
  int error_ = 0;
};
