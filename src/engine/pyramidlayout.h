// The layouts of a zoomable tile pyramid: Deep Zoom, IIIF Image API 3
// level-0 static tiles, Zoomify and z/x/y tiles. Each says how its levels
// follow from the image, where each tile goes, what its descriptor holds and
// what a viewer page is told.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/halving.h"
#include "engine/tilebands.h"
#include "engine/tilecodecs.h"

namespace torvel {

enum class PyramidLayout { DeepZoom, Iiif, Zoomify, Xyz };

struct PyramidSettings {
  PyramidLayout layout = PyramidLayout::DeepZoom;
  uint32_t tile = 256;
  uint32_t overlap = 1;  // Deep Zoom only
  TileEncoding encoding;
  uint8_t background[3] = {255, 255, 255};
  bool skipBlank = false;
  std::string baseUrl;  // IIIF's id; empty: the folder's name
  bool zip = false;
  bool viewer = true;
};

const char* layoutName(PyramidLayout layout);  // "dz", "iiif", "zoomify", "xyz"
// The layout of a name; false when there is none.
bool layoutNamed(const std::string& name, PyramidLayout& layout);

// A pyramid of one image in one layout, named after `name` (the input's
// stem): its levels (the full image first), tiles and files.
class PyramidPlan {
 public:
  PyramidPlan(const PyramidSettings& settings, uint32_t width, uint32_t height, std::string name);

  const std::vector<LevelSize>& levels() const { return levels_; }
  TileGrid grid() const;
  // The folder the tiles go in ("NAME_files" for Deep Zoom, else "NAME").
  std::string folder() const;
  // A separate descriptor beside the folder ("NAME.dzi"); empty when it is inside.
  std::string descriptorBeside() const;
  // The tile's path inside the folder.
  std::string tilePath(size_t level, uint32_t column, uint32_t row) const;
  // The descriptor's path inside the folder (empty for Deep Zoom) and text.
  std::string descriptorInside() const;
  std::string descriptorText() const;
  // What OpenSeadragon is given as its tile source: the descriptor inline,
  // so the page needs no request to read it.
  std::string viewerSource() const;

 private:
  uint32_t columns(size_t level) const { return (levels_[level].width + settings_.tile - 1) / settings_.tile; }
  uint32_t rows(size_t level) const { return (levels_[level].height + settings_.tile - 1) / settings_.tile; }
  std::string iiifPath(size_t level, uint32_t column, uint32_t row) const;
  std::string iiifInfo(const std::string& id) const;

  PyramidSettings settings_;
  uint32_t width_, height_;
  std::string name_;
  std::vector<LevelSize> levels_;
  std::vector<uint64_t> zoomifyFirst_;  // the number of each level's first tile, counted from the smallest level
};

}  // namespace torvel
