// The geometry of a resize: the passes that shrink the image tile by tile by
// a whole even factor (or the exact one), and the final direct scaling. Every
// way of running a resize follows the same plan, so all give the same bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace torvel {

struct ResizePass {
  uint32_t tileWidth = 0, tileHeight = 0;
  uint32_t columns = 0, rows = 0;
  long double divider = 1;
  uint32_t width = 0, height = 0;              // the image the pass works on
  uint32_t outputWidth = 0, outputHeight = 0;  // the merged result

  uint32_t columnWidth(uint32_t c) const;  // from 1, the last one taking the remainder
  uint32_t rowHeight(uint32_t r) const;
  // A tile's side after scaling: Round (side ÷ divider).
  uint32_t scaled(uint32_t side) const;
};

struct ResizePlan {
  std::vector<ResizePass> passes;
  bool directScaling = false;  // the last image is scaled in one piece by `factor`
  long double factor = 1;
  uint32_t finalWidth = 0, finalHeight = 0;
  bool changesNothing() const { return passes.empty() && !directScaling; }
};

// The side of a pass's tiles.
inline constexpr uint32_t defaultTileSide = 10000;

// `bytesPerPixel`: of the input; passes work on three-sample pixels.
ResizePlan planResize(uint32_t width, uint32_t height, int bytesPerPixel, int bits, uint32_t requestedWidth,
                      uint32_t requestedHeight, bool fast, uint32_t tileSide = defaultTileSide);
// The largest image the final step scales in one piece (one widened tile of
// 16-bit pixels); a larger one first goes through one more pass.
int64_t maxDirectBytes(uint32_t tileSide);

// Along one axis, the input index each output index of the plan takes when
// every scaling picks the nearest pixel (the fast method).
std::vector<uint32_t> nearestSources(const ResizePlan& plan, uint32_t inputSide, bool columns);

// The pieces of the geometry.
// The tile side of a pass: `tileSide`, widened so that no last tile is
// narrower than a tenth of it.
uint32_t passTileSize(uint32_t side, uint32_t tileSide = defaultTileSide);
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
