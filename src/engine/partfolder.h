// A folder output (a pyramid's tiles) made as its files are: under a hidden
// part name beside its final name (".NAME.torvel-PID.part"), private (0700)
// and locked while its run lives, and given its final name only when
// complete. A folder it replaces keeps its name until that moment (the two
// are exchanged at once), then goes. A run that ends otherwise leaves
// nothing; a killed one leaves a part that a later run removes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "engine/partfile.h"

namespace torvel {

class PartFolder {
 public:
  PartFolder() = default;
  ~PartFolder() { discard(); }
  PartFolder(const PartFolder&) = delete;
  PartFolder& operator=(const PartFolder&) = delete;

  // Creates the part folder of `finalPath`; false with `why`.
  bool create(const std::string& finalPath, std::string& why);
  const std::string& partPath() const { return partPath_; }
  // Writes a file at `relative` inside, making its folders; false with `why`.
  // Safe to call from several threads.
  bool write(const std::string& relative, const uint8_t* data, size_t size, std::string& why);
  // The final name, in place of an existing folder only when `replace`.
  PartFile::Published publish(bool replace, std::string& why);
  void discard();

 private:
  bool makeFolders(const std::string& relative, std::string& why);
  int parent_ = -1, fd_ = -1;
  std::string partName_, finalName_, partPath_;
  std::mutex madeMutex_;        // the writing threads make folders
  std::set<std::string> made_;  // folders inside made so far
};

// Removes the tree under `folder` (an open descriptor) without following a
// link: what a part folder holds.
void removeTree(int folder);

}  // namespace torvel
