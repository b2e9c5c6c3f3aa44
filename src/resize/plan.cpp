#include "resize/plan.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/rules.h"

namespace torvel {

namespace {

ResizePass makePass(uint32_t w, uint32_t h, uint32_t tileWidth, uint32_t tileHeight, long double divider) {
  ResizePass p{tileWidth, tileHeight, tileCount(w, tileWidth), tileCount(h, tileHeight), divider, w, h};
  for (uint32_t c = 1; c <= p.columns; ++c) p.outputWidth += p.scaled(p.columnWidth(c));
  for (uint32_t r = 1; r <= p.rows; ++r) p.outputHeight += p.scaled(p.rowHeight(r));
  return p;
}


// Nearest sampling of `from` pixels down to `to`: the source index of each
// output index, in the fixed-point steps of the tile scaling.
std::vector<uint32_t> nearestIndexes(uint32_t from, uint32_t to) {
  std::vector<uint32_t> index(to);
  const int64_t step = int64_t{from} * 65536 / to;
  for (uint32_t i = 0; i < to; ++i) index[i] = static_cast<uint32_t>((int64_t{i} * step) >> 16);
  return index;
}

// Through one pass backwards: the index in the pass's image of each index in
// its result, along the columns (or the rows).
void throughPass(const ResizePass& p, bool columns, std::vector<uint32_t>& index) {
  const uint32_t count = columns ? p.columns : p.rows;
  std::vector<uint32_t> starts{0}, outStarts{0};
  std::vector<std::vector<uint32_t>> local;
  for (uint32_t k = 1; k <= count; ++k) {
    const uint32_t side = columns ? p.columnWidth(k) : p.rowHeight(k);
    local.push_back(nearestIndexes(side, p.scaled(side)));
    starts.push_back(starts.back() + side);
    outStarts.push_back(outStarts.back() + p.scaled(side));
  }
  for (uint32_t& i : index) {
    const size_t k = static_cast<size_t>(std::upper_bound(outStarts.begin(), outStarts.end(), i) - outStarts.begin()) - 1;
    i = starts[k] + local[k][i - outStarts[k]];
  }
}

}  // namespace

uint32_t ResizePass::columnWidth(uint32_t c) const { return pieceSize(width, tileWidth, c, columns); }
uint32_t ResizePass::rowHeight(uint32_t r) const { return pieceSize(height, tileHeight, r, rows); }

uint32_t ResizePass::scaled(uint32_t side) const {
  const long double v = std::nearbyintl(side / divider);
  return v > INT32_MAX ? INT32_MAX : static_cast<uint32_t>(v);
}

ResizePlan planResize(uint32_t width, uint32_t height, int bytesPerPixel, int bits, uint32_t requestedWidth,
                      uint32_t requestedHeight, bool fast, uint32_t tileSide) {
  ResizePlan plan;
  const uint32_t threshold = fast ? requestedWidth : 2 * requestedWidth;
  uint32_t w = width, h = height;
  for (int bpp = bytesPerPixel;; bpp = 3 * bits / 8) {
    const uint32_t tileWidth = passTileSize(w, tileSide), tileHeight = passTileSize(h, tileSide);
    const bool several = !withinTwoPercent(w, h, requestedWidth, requestedHeight) &&
                         (tileCount(w, tileWidth) > 1 || tileCount(h, tileHeight) > 1);
    long double factor = 1;
    const bool direct = directScalingDue(w, h, requestedWidth, tileWidth, factor);
    if (several || (direct && int64_t{w} * h * bpp > maxDirectBytes(tileSide))) {
      // An image too large to scale in one piece gets one more pass by the factor.
      const long double divider = several ? passDivider(w, requestedWidth, threshold) : factor;
      plan.passes.push_back(makePass(w, h, tileWidth, tileHeight, divider));
      w = plan.passes.back().outputWidth;
      h = plan.passes.back().outputHeight;
      continue;
    }
    plan.directScaling = direct;
    plan.factor = factor;
    plan.finalWidth = direct ? static_cast<uint32_t>(roundDiv(w, factor)) : w;
    plan.finalHeight = direct ? static_cast<uint32_t>(roundDiv(h, factor)) : h;
    return plan;
  }
}

std::vector<uint32_t> nearestSources(const ResizePlan& plan, uint32_t inputSide, bool columns) {
  const uint32_t finalSide = columns ? plan.finalWidth : plan.finalHeight;
  const uint32_t lastSide = plan.passes.empty() ? inputSide
                                                : (columns ? plan.passes.back().outputWidth : plan.passes.back().outputHeight);
  std::vector<uint32_t> index = plan.directScaling ? nearestIndexes(lastSide, finalSide) : std::vector<uint32_t>(finalSide);
  if (!plan.directScaling)
    for (uint32_t i = 0; i < finalSide; ++i) index[i] = i;
  for (auto p = plan.passes.rbegin(); p != plan.passes.rend(); ++p) throughPass(*p, columns, index);
  return index;
}


int64_t maxDirectBytes(uint32_t tileSide) {
  const int64_t widest = tileSide + tileSide / 10 - 1;
  return widest * widest * 6;
}

uint32_t passTileSize(uint32_t side, uint32_t tileSide) {
  uint32_t t = tileSide;
  const uint32_t rem = side % tileSide, whole = side / tileSide;
  if (rem > 0 && rem < tileSide / 10 && whole >= 1) t = tileSide + rem / whole + 1;
  return t > side ? side : t;
}

bool withinTwoPercent(uint32_t w, uint32_t h, uint32_t requestedWidth, uint32_t requestedHeight) {
  const double wd = w, hd = h;
  return requestedWidth >= wd - std::trunc(2 * wd / 100) || requestedHeight >= hd - std::trunc(2 * hd / 100);
}

long double passDivider(uint32_t w, uint32_t requestedWidth, uint32_t threshold) {
  for (uint32_t n : {10u, 8u, 6u, 4u, 2u})
    if (w / n >= threshold) return n;
  return static_cast<long double>(w) / requestedWidth;
}

int64_t roundDiv(uint32_t side, long double divider) { return static_cast<int64_t>(std::nearbyintl(side / divider)); }

bool directScalingDue(uint32_t w, uint32_t h, uint32_t requestedWidth, uint32_t tileWidth, long double& factor) {
  factor = static_cast<long double>(w) / requestedWidth;
  return tileWidth >= requestedWidth && factor >= 1 && std::llabs(roundDiv(w, factor) - w) > 100 &&
         std::llabs(roundDiv(h, factor) - h) > 100;
}

}  // namespace torvel
