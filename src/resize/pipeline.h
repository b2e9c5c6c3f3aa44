// The resize: passes that shrink the image tile by tile, a final direct
// scaling, and the output in the chosen format and folder. Temporary images
// live in a folder beside the output.
#pragma once

#include <cstdint>
#include <string>

#include "engine/operations.h"
#include "resize/plan.h"

namespace torvel {

struct ResizeRequest {
  ImageInfo input;
  uint32_t width = 0;   // the requested output width
  uint32_t height = 0;  // the height derived for it; used only by the 2 % rule
  bool fast = false;    // nearest instead of Lanczos
  OutputFormat format;
  std::string chosenFolder;  // the output folder the user chose, may be empty
  std::string outputPath;    // the output's name as the user gave it; empty: named after the input
  // The side of a pass's tiles; smaller only where tests need many passes on small images.
  uint32_t tileSide = defaultTileSide;
};

RunResult resizeImage(const ResizeRequest& request, const RunContext& context);

}  // namespace torvel
