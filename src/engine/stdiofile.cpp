#include "engine/stdiofile.h"

#include <unistd.h>

#include <cerrno>

#include "engine/bytefile.h"
#include "engine/files.h"

namespace torvel {

StdioFile::~StdioFile() {
  if (file_) std::fclose(file_);
}

bool StdioFile::openRead(const std::string& path, std::string& why) {
  ByteFile checked;  // regular files only, and no open that blocks
  if (!checked.openRead(path)) {
    why = systemErrorText(checked.takeError());
    return false;
  }
  const int fd = checked.release();
  file_ = ::fdopen(fd, "rb");
  if (!file_) {
    why = systemErrorText(errno);
    ::close(fd);
  }
  return file_ != nullptr;
}

bool StdioFile::adoptWrite(int fd, std::string& why) {
  if (fd >= 0) file_ = ::fdopen(fd, "wb");
  if (!file_) {
    why = systemErrorText(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  std::setvbuf(file_, nullptr, _IOFBF, size_t{1} << 20);
  return true;
}

bool StdioFile::close(std::string& why) {
  if (!file_) return true;
  const bool failed = std::fflush(file_) != 0 || std::ferror(file_);
  const int error = errno;
  const bool closeFailed = std::fclose(file_) != 0;
  file_ = nullptr;
  if (!failed && !closeFailed) return true;
  why = systemErrorText(failed ? error : errno);
  return false;
}

}  // namespace torvel
