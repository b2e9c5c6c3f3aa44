#include "engine/files.h"

#include "engine/bytefile.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace torvel {

namespace {
std::mutex hookMutex;
std::function<int64_t(const std::string&)> diskFreeHook;
}  // namespace

int64_t fileSize(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void setDiskFreeHookForTests(std::function<int64_t(const std::string&)> hook) {
  std::lock_guard<std::mutex> lock(hookMutex);
  diskFreeHook = std::move(hook);
}

int64_t diskFreeBytes(const std::string& dir) {
  {
    std::lock_guard<std::mutex> lock(hookMutex);
    if (diskFreeHook) return diskFreeHook(dir);
  }
  struct statvfs vs;
  if (dir.empty() || ::statvfs(dir.c_str(), &vs) != 0) return 0;
  return static_cast<int64_t>(vs.f_bavail) * static_cast<int64_t>(vs.f_frsize);
}

bool fileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool folderExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  return !ec && same;
}

std::string folderOf(const std::string& path) {
  const size_t p = path.rfind('/');
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string fileNameOf(const std::string& path) {
  const size_t p = path.rfind('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string extensionOf(const std::string& path) {
  const std::string name = fileNameOf(path);
  const size_t p = name.rfind('.');
  return p == std::string::npos ? std::string() : name.substr(p);
}

std::string systemErrorText(int error) {
  return error == ByteFile::notRegularFile ? "not a regular file" : std::strerror(error);
}

}  // namespace torvel
