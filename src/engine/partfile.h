// An output while it is written: a new file under a hidden part name beside
// its final one, ".<name>.torvel-<pid>[-n].part". It is created through a
// descriptor of its folder with O_EXCL and O_NOFOLLOW, so a name someone
// else planted there (a symlink, a file) is never followed or reused, and it
// stays locked (flock) while this run lives, so that a run in another PID
// namespace or on another host never takes it for a leftover. It takes its
// final name only once complete, replacing a file there only when the
// replacement was confirmed.
#pragma once

#include <functional>
#include <string>

namespace torvel {

class PartFile {
 public:
  enum class Published { Yes, NameTaken, Failed };

  PartFile() = default;
  ~PartFile();  // removes a part that was not published
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  // Creates the part file of `finalPath`; false with `why`.
  bool create(const std::string& finalPath, std::string& why);
  // A descriptor of the part file for its writer, -1 with errno set. It
  // shares the lock, which lasts until the part is published or discarded.
  int duplicate() const;
  const std::string& partPath() const { return partPath_; }
  const std::string& finalPath() const { return finalPath_; }

  // Gives the part its final name: over an existing file when `replace`,
  // else only while the name is free (NameTaken when it is not, and the part
  // is removed). Failed with `why`; the part is removed then too.
  Published publish(bool replace, std::string& why);
  // Removes the part file, if it is still ours.
  void discard();

  // Test seam: called with each candidate part name just before it is
  // created, so a test can plant something there. Empty removes it.
  static void setNameHookForTests(std::function<void(const std::string&)> hook);

 private:
  bool stillOurs(const std::string& name) const;
  // "the output folder ... disappeared" when it did; empty otherwise.
  std::string folderGoneText() const;
  bool renameFree();
  void close();
  int folder_ = -1;
  int fd_ = -1;
  std::string folderPath_, partName_, finalName_, partPath_, finalPath_;
};

}  // namespace torvel
