// The resize pipeline: passes of split, per-tile scaling in worker threads
// and merge over RAW files in a temporary folder, then the final conversion
// into the chosen format and folder.
#pragma once

#include <cstdint>
#include <string>

#include "engine/operations.h"

namespace torvel {

struct ResizeRequest {
  ImageInfo input;
  uint32_t width = 0;   // the requested output width
  uint32_t height = 0;  // the height derived for it; used only by the 2 % rule
  bool fast = false;    // nearest instead of Lanczos
  OutputFormat format;
  std::string chosenFolder;  // the output folder the user chose, may be empty
};

RunResult resizeImage(const ResizeRequest& request, const RunContext& context);

// The pass geometry.
inline constexpr const char* resizeTempFolderName = "$$$TEMP$$$RESIZER$$$";
// The tile side of a pass: 10000, widened so that no last tile is narrower than 1000.
uint32_t passTileSize(uint32_t side);
// The 2 % rule: the requested size is close enough to stop the passes.
bool withinTwoPercent(uint32_t w, uint32_t h, uint32_t requestedWidth, uint32_t requestedHeight);
// The factor of a split pass: 10, 8, 6, 4 or 2 while that leaves `threshold`
// pixels of width, else the exact remaining factor.
long double passDivider(uint32_t w, uint32_t requestedWidth, uint32_t threshold);
// Round (side ÷ divider): nearest whole number, halfway to even, in extended precision.
int64_t roundDiv(uint32_t side, long double divider);
// Whether the final step scales directly, and by which factor.
bool directScalingDue(uint32_t w, uint32_t h, uint32_t requestedWidth, uint32_t tileWidth, long double& factor);

}  // namespace torvel
