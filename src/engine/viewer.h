// The viewer page written beside a pyramid: OpenSeadragon, copied beside
// it, shows the pyramid zoomable when the page is opened from the file
// system, its descriptor inline so that the page makes no request for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/pyramidlayout.h"

namespace torvel {

struct EmbeddedFile {
  const char* path;  // "openseadragon/openseadragon.min.js"...
  const uint8_t* data;
  size_t size;
};

// OpenSeadragon's files, its licence among them, as the build embedded
// them; empty when the build had none.
const std::vector<EmbeddedFile>& viewerFiles();

// The page for `plan`, titled `title`. Opened with "#zoom=N" it starts
// zoomed N times into the middle.
std::string viewerPage(const PyramidPlan& plan, const std::string& title);

}  // namespace torvel
