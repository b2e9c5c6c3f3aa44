#include "engine/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

#include "engine/files.h"
#include "engine/partfolder.h"

namespace torvel {

namespace {

constexpr const char* partMark = ".torvel-";
constexpr const char* partEnd = ".part";

bool endsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

bool processEnded(long pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

// The process id in "<digits>" followed by one of `ends`; 0 when none.
long leadingPid(const std::string& text, const char* ends) {
  size_t n = 0;
  while (n < text.size() && n < 10 && text[n] >= '0' && text[n] <= '9') ++n;
  if (n == 0 || n >= text.size() || std::string(ends).find(text[n]) == std::string::npos) return 0;
  return std::strtol(text.substr(0, n).c_str(), nullptr, 10);
}

bool isPartName(const std::string& name) {
  return !name.empty() && name[0] == '.' && name.rfind(partMark) != std::string::npos && endsWith(name, partEnd);
}

// The process that left `name` in a folder, when it is one of ours; 0 otherwise.
long ownerOf(const std::string& name, bool& isFolder) {
  const std::string folderPrefix = std::string(privateFolderPrefix) + "-";
  isFolder = name.rfind(folderPrefix, 0) == 0;
  if (isFolder) return leadingPid(name.substr(folderPrefix.size()), "-");
  if (!isPartName(name)) return 0;
  return leadingPid(name.substr(name.rfind(partMark) + std::string(partMark).size()), "-.");
}

// The names in an open folder, read through a descriptor of its own.
std::vector<std::string> namesIn(int folder) {
  std::vector<std::string> names;
  const int fd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
  DIR* d = fd >= 0 ? ::fdopendir(fd) : nullptr;
  if (!d) {
    if (fd >= 0) ::close(fd);
    return names;
  }
  ::rewinddir(d);
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  return names;
}

// An entry of `folder` that is what `type` says (S_IFREG or S_IFDIR), not a
// link, and the current user's: opened and locked. -1 when it is not so, or
// when someone holds its lock.
int openAndLock(int folder, const std::string& name, mode_t type) {
  struct stat there, opened;
  if (::fstatat(folder, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 || (there.st_mode & S_IFMT) != type ||
      there.st_uid != ::geteuid())
    return -1;
  const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (type == S_IFDIR ? O_DIRECTORY : 0);
  const int fd = ::openat(folder, name.c_str(), flags);
  if (fd < 0) return -1;
  if (::fstat(fd, &opened) != 0 || opened.st_ino != there.st_ino || opened.st_dev != there.st_dev ||
      ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Removes the files of a private folder that this program makes there: its
// temporary RAW images and their part files.
void removeOurFiles(int folder) {
  for (const std::string& name : namesIn(folder)) {
    struct stat st;
    if ((endsWith(name, ".raw") || isPartName(name)) &&
        ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      ::unlinkat(folder, name.c_str(), 0);
  }
}

void removeLeftover(int folder, const std::string& name, bool isFolder) {
  // A part name on a folder: a pyramid's part, all of it ours.
  struct stat st;
  const bool partFolder = !isFolder && ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
  const int fd = openAndLock(folder, name, isFolder || partFolder ? S_IFDIR : S_IFREG);
  if (fd < 0) return;
  if (isFolder || partFolder) {
    if (partFolder)
      removeTree(fd);
    else
      removeOurFiles(fd);
    ::unlinkat(folder, name.c_str(), AT_REMOVEDIR);
  } else {
    // Only while the name is still the file we locked.
    struct stat there, opened;
    if (::fstatat(folder, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &opened) == 0 &&
        there.st_ino == opened.st_ino && there.st_dev == opened.st_dev)
      ::unlinkat(folder, name.c_str(), 0);
  }
  ::close(fd);
}

std::string withSlash(const std::string& dir) { return dir.empty() || dir.back() == '/' ? dir : dir + "/"; }

}  // namespace

bool PrivateFolder::create(const std::string& dir) {
  remove();
  parent_ = withSlash(dir);
  std::string made = parent_ + privateFolderPrefix + "-" + std::to_string(::getpid()) + "-XXXXXX";
  if (!::mkdtemp(made.data())) return false;
  fd_ = ::open(made.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) {
    const int e = errno;
    ::rmdir(made.c_str());
    errno = e;
    return false;
  }
  ::flock(fd_, LOCK_EX | LOCK_NB);
  name_ = fileNameOf(made);
  path_ = made + "/";
  return true;
}

void PrivateFolder::remove() {
  if (fd_ < 0) return;
  removeOurFiles(fd_);
  const int parent = ::open(parent_.empty() ? "." : parent_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent >= 0) {
    ::unlinkat(parent, name_.c_str(), AT_REMOVEDIR);
    ::close(parent);
  }
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}

void removeLeftovers(const std::string& dir) {
  static std::mutex mutex;
  static std::set<std::string> done;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!done.insert(withSlash(dir)).second) return;
  }
  const int folder = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return;
  for (const std::string& name : namesIn(folder)) {
    bool isFolder = false;
    if (processEnded(ownerOf(name, isFolder))) removeLeftover(folder, name, isFolder);
  }
  ::close(folder);
}

}  // namespace torvel
