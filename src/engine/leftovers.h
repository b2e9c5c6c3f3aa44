// What a killed run leaves behind, and the private folder a resize keeps its
// temporary images in. Part files (partfile.h) and private folders carry the
// process id in their names and are locked (flock) while their run lives, so
// a later run into the same folder removes only what nobody holds: the
// leftovers of processes that have ended (part files, private folders and
// pyramids' part folders), never those of a live run in
// another PID namespace or on another host. Removal never follows a link and
// touches only regular files and real folders of the current user whose
// names this program makes.
#pragma once

#include <string>

namespace torvel {

// The name private temporary folders begin with.
inline constexpr const char* privateFolderPrefix = "$$$TEMP$$$RESIZER$$$";

// A private folder "<prefix>-<pid>-XXXXXX" in an output folder, made
// atomically, locked while it exists and removed with the files this
// program made in it.
class PrivateFolder {
 public:
  PrivateFolder() = default;
  ~PrivateFolder() { remove(); }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // False with errno set.
  bool create(const std::string& dir);
  const std::string& path() const { return path_; }  // ends in '/'
  void remove();

 private:
  int fd_ = -1;
  std::string parent_, name_, path_;
};

// Removes, once per folder and process, the part files and private folders
// in `dir` of processes that have ended and whose locks nobody holds.
void removeLeftovers(const std::string& dir);

}  // namespace torvel
