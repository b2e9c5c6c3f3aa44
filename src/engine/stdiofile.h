// A C stream over a regular file, for the codec libraries (libpng,
// libjpeg) that read and write through one. Opening for reading refuses
// what is not a regular file without blocking, as ByteFile does; writing
// goes to a descriptor of the output's part file.
#pragma once

#include <cstdio>
#include <string>

namespace torvel {

class StdioFile {
 public:
  StdioFile() = default;
  ~StdioFile();
  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;

  bool openRead(const std::string& path, std::string& why);
  // Takes over `fd` for writing through a 1 MB buffer.
  bool adoptWrite(int fd, std::string& why);
  FILE* get() const { return file_; }
  // Flushes and closes; false with `why` when a byte did not reach the file.
  bool close(std::string& why);

 private:
  FILE* file_ = nullptr;
};

}  // namespace torvel
