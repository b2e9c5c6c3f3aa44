#include "engine/partfolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include "engine/bytefile.h"
#include "engine/files.h"

namespace torvel {

namespace {

mode_t currentUmask() {
  const mode_t m = ::umask(022);
  ::umask(m);
  return m;
}

// Makes what a folder of the final pyramid is: readable as the umask allows.
void openUp(int fd) { ::fchmod(fd, 0777 & ~currentUmask()); }

}  // namespace

void removeTree(int folder) {
  const int fd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
  DIR* d = fd >= 0 ? ::fdopendir(fd) : nullptr;
  if (!d) {
    if (fd >= 0) ::close(fd);
    return;
  }
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      const int sub = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) continue;
      removeTree(sub);
      ::close(sub);
      ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
    } else {
      ::unlinkat(folder, name.c_str(), 0);  // a link goes, never what it points at
    }
  }
  ::closedir(d);
}

bool PartFolder::create(const std::string& finalPath, std::string& why) {
  discard();
  const std::string folder = folderOf(finalPath);
  finalName_ = fileNameOf(finalPath);
  parent_ = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent_ < 0) {
    why = systemErrorText(errno);
    return false;
  }
  const std::string base = "." + finalName_ + ".torvel-" + std::to_string(::getpid());
  for (int i = 0; i < 10000; ++i) {
    partName_ = base + (i ? "-" + std::to_string(i) : "") + ".part";
    if (::mkdirat(parent_, partName_.c_str(), 0700) == 0) {
      fd_ = ::openat(parent_, partName_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (fd_ < 0) break;
      ::flock(fd_, LOCK_EX | LOCK_NB);
      partPath_ = folder + partName_ + "/";
      return true;
    }
    if (errno != EEXIST) break;
  }
  why = systemErrorText(errno);
  discard();
  return false;
}

bool PartFolder::makeFolders(const std::string& relative, std::string& why) {
  std::lock_guard<std::mutex> lock(madeMutex_);
  for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
    const std::string folder = relative.substr(0, slash);
    if (made_.count(folder)) continue;
    if (::mkdirat(fd_, folder.c_str(), 0777) != 0 && errno != EEXIST) {
      why = systemErrorText(errno);
      return false;
    }
    made_.insert(folder);
  }
  return true;
}

bool PartFolder::write(const std::string& relative, const uint8_t* data, size_t size, std::string& why) {
  if (!makeFolders(relative, why)) return false;
  const int fd = ::openat(fd_, relative.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    why = systemErrorText(errno);
    return false;
  }
  ByteFile file;
  file.adopt(fd);
  file.write(data, size);
  file.close();
  const int e = file.takeError();
  if (e) why = systemErrorText(e);
  return e == 0;
}

PartFile::Published PartFolder::publish(bool replace, std::string& why) {
  openUp(fd_);
  const unsigned flags = replace ? RENAME_EXCHANGE : RENAME_NOREPLACE;
  bool exchanged = replace;
  if (::renameat2(parent_, partName_.c_str(), parent_, finalName_.c_str(), flags) != 0) {
    // Exchanging needs something to exchange with: nothing there, a plain rename.
    exchanged = false;
    if (!(replace && errno == ENOENT &&
          ::renameat2(parent_, partName_.c_str(), parent_, finalName_.c_str(), RENAME_NOREPLACE) == 0)) {
      const int e = errno;
      discard();
      if (e == EEXIST) return PartFile::Published::NameTaken;
      why = systemErrorText(e);
      return PartFile::Published::Failed;
    }
  }
  ::close(fd_);
  fd_ = -1;
  // What was replaced now stands under the part name: it goes.
  if (exchanged) {
    const int old = ::openat(parent_, partName_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (old >= 0) {
      removeTree(old);
      ::close(old);
      ::unlinkat(parent_, partName_.c_str(), AT_REMOVEDIR);
    } else {
      ::unlinkat(parent_, partName_.c_str(), 0);  // a file it replaced
    }
  }
  ::close(parent_);
  parent_ = -1;
  return PartFile::Published::Yes;
}

void PartFolder::discard() {
  if (fd_ >= 0) {
    removeTree(fd_);
    ::unlinkat(parent_, partName_.c_str(), AT_REMOVEDIR);
    ::close(fd_);
    fd_ = -1;
  }
  if (parent_ >= 0) ::close(parent_);
  parent_ = -1;
  made_.clear();
}

}  // namespace torvel
