// Where a pyramid's files go: its folder of tiles made under a part name and
// published whole, the files beside it (a descriptor, the viewer page and
// OpenSeadragon) published after it; or all of it in one uncompressed ZIP
// published as one file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/partfile.h"

namespace torvel {

struct StoredFile {
  std::string path;  // relative to the output folder: "NAME.dzi", "openseadragon/images/home_rest.png"
  std::vector<uint8_t> bytes;
};

class PyramidStore {
 public:
  virtual ~PyramidStore() = default;
  // A file inside the pyramid's folder; safe from several threads. False with `why`.
  virtual bool putTile(const std::string& relative, const std::vector<uint8_t>& bytes, std::string& why) = 0;
  // Completes the pyramid with the files beside its folder and gives it its
  // final names; replaces what is there only when `replace`.
  virtual PartFile::Published publish(const std::vector<StoredFile>& beside, bool replace, std::string& why) = 0;
  // The paths the published pyramid holds, as the run reports them.
  virtual std::vector<std::string> written() const = 0;
};

// A store in `outDir` for the pyramid folder `folder`; null with `why`.
std::unique_ptr<PyramidStore> folderStore(const std::string& outDir, const std::string& folder, std::string& why);
// A store writing `outDir` + `zipName`, the pyramid folder inside it as `folder`.
std::unique_ptr<PyramidStore> zipStore(const std::string& outDir, const std::string& zipName, const std::string& folder,
                                       std::string& why);

}  // namespace torvel
