// Tiles cut from the rows of each level of a pyramid as they arrive: a level
// holds only the rows of its current row of tiles (with the overlap on
// either side), and hands each tile out once its last row is in.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/halving.h"

namespace torvel {

struct TileGrid {
  uint32_t side = 256;
  uint32_t overlap = 0;  // pixels a tile shares with each neighbour
  bool padded = false;   // every tile side × side, filled beyond the image
};

struct TilePiece {
  size_t level = 0;  // 0: the full image
  uint32_t column = 0, row = 0;
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> pixels;  // width × height pixels, row after row
};

class TileBands {
 public:
  // A tile cut; false stops the cutting. The sink may take the pixels (move
  // them away) or leave them, and then their memory makes the next tile.
  using TileSink = std::function<bool(TilePiece& tile)>;
  // `fill`: one pixel, what padding holds.
  TileBands(std::vector<LevelSize> levels, size_t pixelBytes, TileGrid grid, std::vector<uint8_t> fill,
            TileSink sink);

  // Row `y` of `level`, in order within the level; false when the sink stopped.
  bool add(size_t level, uint32_t y, const uint8_t* row);
  uint32_t columns(size_t level) const { return (levels_[level].width + grid_.side - 1) / grid_.side; }
  uint32_t rows(size_t level) const { return (levels_[level].height + grid_.side - 1) / grid_.side; }
  uint64_t tileCount() const;

 private:
  struct Band {
    std::vector<uint8_t> rows;  // from `first` on
    uint32_t first = 0, tileRow = 0;
  };
  // The rows tile row `r` of a level of `height` spans: [first, end).
  uint32_t spanFirst(uint32_t r) const { return r * grid_.side > grid_.overlap ? r * grid_.side - grid_.overlap : 0; }
  uint32_t spanEnd(uint32_t r, uint32_t height) const {
    return static_cast<uint32_t>(std::min<uint64_t>(height, uint64_t{r + 1} * grid_.side + grid_.overlap));
  }
  bool cut(size_t level);

  std::vector<LevelSize> levels_;
  size_t pixel_;
  TileGrid grid_;
  std::vector<uint8_t> fill_;
  TileSink sink_;
  std::vector<Band> bands_;
  TilePiece tile_;
};

}  // namespace torvel
