#include "engine/leftovers.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>
#include <vector>

#include "engine/files.h"

namespace torvel {

namespace {

constexpr const char* partMark = ".torvel-";
constexpr const char* partEnd = ".part";

bool processEnded(long pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }

// The process id in "<digits>" followed by one of `ends`; 0 when none.
long leadingPid(const std::string& text, const char* ends) {
  size_t n = 0;
  while (n < text.size() && n < 10 && text[n] >= '0' && text[n] <= '9') ++n;
  if (n == 0 || n >= text.size() || std::string(ends).find(text[n]) == std::string::npos) return 0;
  return std::strtol(text.substr(0, n).c_str(), nullptr, 10);
}

// The process that left `name` in a folder, when it is one of ours; 0 otherwise.
long ownerOf(const std::string& name, bool& isFolder) {
  const std::string folderPrefix = std::string(privateFolderPrefix) + "-";
  isFolder = name.rfind(folderPrefix, 0) == 0;
  if (isFolder) return leadingPid(name.substr(folderPrefix.size()), "-");
  const size_t mark = name.rfind(partMark);
  const size_t endLength = std::string(partEnd).size();
  if (name.empty() || name[0] != '.' || mark == std::string::npos || name.size() < endLength ||
      name.compare(name.size() - endLength, endLength, partEnd) != 0)
    return 0;
  return leadingPid(name.substr(mark + std::string(partMark).size()), "-.");
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(folder.empty() ? "." : folder.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
  }
  return names;
}

std::string withSlash(const std::string& dir) { return dir.empty() || dir.back() == '/' ? dir : dir + "/"; }

}  // namespace

std::string partNameFor(const std::string& path) {
  const std::string base = folderOf(path) + "." + fileNameOf(path) + partMark + std::to_string(::getpid());
  for (int i = 0;; ++i) {
    std::string candidate = base + (i ? "-" + std::to_string(i) : "") + partEnd;
    if (fileSize(candidate) < 0 && !folderExists(candidate)) return candidate;
  }
}

std::string makePrivateFolder(const std::string& dir) {
  std::string name = withSlash(dir) + privateFolderPrefix + "-" + std::to_string(::getpid()) + "-XXXXXX";
  if (!::mkdtemp(name.data())) return {};
  return name;
}

void removeFolderAndFiles(const std::string& folder) {
  for (const std::string& name : namesIn(folder)) removeFile(withSlash(folder) + name);
  ::rmdir(folder.c_str());
}

void removeLeftovers(const std::string& dir) {
  static std::mutex mutex;
  static std::set<std::string> done;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!done.insert(withSlash(dir)).second) return;
  }
  for (const std::string& name : namesIn(dir)) {
    bool isFolder = false;
    if (!processEnded(ownerOf(name, isFolder))) continue;
    const std::string path = withSlash(dir) + name;
    if (isFolder && folderExists(path))
      removeFolderAndFiles(path);
    else if (!isFolder && fileExists(path))
      removeFile(path);
  }
}

}  // namespace torvel
