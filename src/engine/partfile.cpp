#include "engine/partfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "engine/files.h"

namespace torvel {

namespace {

std::mutex hookMutex;
std::function<void(const std::string&)> nameHook;

void callNameHook(const std::string& path) {
  std::lock_guard<std::mutex> lock(hookMutex);
  if (nameHook) nameHook(path);
}

bool sameInode(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

void PartFile::setNameHookForTests(std::function<void(const std::string&)> hook) {
  std::lock_guard<std::mutex> lock(hookMutex);
  nameHook = std::move(hook);
}

PartFile::~PartFile() { discard(); }

bool PartFile::create(const std::string& finalPath, std::string& why) {
  close();
  finalPath_ = finalPath;
  folderPath_ = folderOf(finalPath);
  finalName_ = fileNameOf(finalPath);
  folder_ = ::open(folderPath_.empty() ? "." : folderPath_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_ < 0) {
    why = systemErrorText(errno);
    return false;
  }
  const std::string base = "." + finalName_ + ".torvel-" + std::to_string(::getpid());
  for (int i = 0; i < 10000; ++i) {
    partName_ = base + (i ? "-" + std::to_string(i) : "") + ".part";
    partPath_ = folderPath_ + partName_;
    callNameHook(partPath_);
    fd_ = ::openat(folder_, partName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      ::flock(fd_, LOCK_EX | LOCK_NB);  // a new file: nobody else holds it
      return true;
    }
    if (errno != EEXIST) break;  // the name is taken by something: the next one
  }
  why = systemErrorText(errno);
  close();
  return false;
}

int PartFile::duplicate() const {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  return ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
}

// Whether `name` in the folder is still our part file, not something put in its place.
bool PartFile::stillOurs(const std::string& name) const {
  struct stat mine, there;
  return fd_ >= 0 && ::fstat(fd_, &mine) == 0 &&
         ::fstatat(folder_, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && sameInode(mine, there);
}

// The final name only while it is free; a file system without
// RENAME_NOREPLACE gets a hard link, which fails on a taken name too.
bool PartFile::renameFree() {
  if (::renameat2(folder_, partName_.c_str(), folder_, finalName_.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::linkat(folder_, partName_.c_str(), folder_, finalName_.c_str(), 0) != 0) return false;
  ::unlinkat(folder_, partName_.c_str(), 0);
  return true;
}

std::string PartFile::folderGoneText() const {
  struct stat st;
  if (::fstat(folder_, &st) == 0 && st.st_nlink > 0) return {};
  return "the output folder " + (folderPath_.empty() ? std::string(".") : folderPath_) + " disappeared";
}

PartFile::Published PartFile::publish(bool replace, std::string& why) {
  if (!stillOurs(partName_)) {
    why = folderGoneText();
    if (why.empty()) why = "the part file " + partPath_ + " was removed or replaced by another program";
    close();
    return Published::Failed;
  }
  const bool renamed =
      replace ? ::renameat(folder_, partName_.c_str(), folder_, finalName_.c_str()) == 0 : renameFree();
  if (!renamed) {
    const int e = errno;
    discard();
    if (e == EEXIST) return Published::NameTaken;
    why = e == ENOENT ? folderGoneText() : "";
    if (why.empty()) why = systemErrorText(e);
    return Published::Failed;
  }
  const bool ours = stillOurs(finalName_);
  close();
  if (ours) return Published::Yes;
  why = "the output " + finalPath_ + " was replaced by another program while it was published";
  return Published::Failed;
}

void PartFile::discard() {
  if (stillOurs(partName_)) ::unlinkat(folder_, partName_.c_str(), 0);
  close();
}

void PartFile::close() {
  if (fd_ >= 0) ::close(fd_);
  if (folder_ >= 0) ::close(folder_);
  fd_ = folder_ = -1;
}

}  // namespace torvel
