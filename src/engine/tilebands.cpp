#include "engine/tilebands.h"

#include <algorithm>
#include <cstring>

namespace torvel {

TileBands::TileBands(std::vector<LevelSize> levels, size_t pixelBytes, TileGrid grid, std::vector<uint8_t> fill,
                     TileSink sink)
    : levels_(std::move(levels)), pixel_(pixelBytes), grid_(grid), fill_(std::move(fill)), sink_(std::move(sink)),
      bands_(levels_.size()) {}

uint64_t TileBands::tileCount() const {
  uint64_t n = 0;
  for (size_t l = 0; l < levels_.size(); ++l) n += uint64_t{columns(l)} * rows(l);
  return n;
}

bool TileBands::add(size_t level, uint32_t y, const uint8_t* row) {
  Band& b = bands_[level];
  const size_t line = size_t(levels_[level].width) * pixel_;
  // Held from a level's first row on: a caller that cuts some levels itself
  // (a TIFF's full image) never pays for their bands.
  if (b.rows.empty()) b.rows.resize(size_t(std::min(levels_[level].height, grid_.side + 2 * grid_.overlap)) * line);
  std::memcpy(&b.rows[size_t(y - b.first) * line], row, line);
  const uint32_t height = levels_[level].height;
  // A row can complete more than one row of tiles where the overlap reaches the end.
  while (b.tileRow < rows(level) && y + 1 == spanEnd(b.tileRow, height)) {
    if (!cut(level)) return false;
    const uint32_t next = spanFirst(++b.tileRow);
    if (b.tileRow < rows(level) && next > b.first) {
      const uint32_t keep = y + 1 - std::min(next, y + 1);
      std::memmove(b.rows.data(), &b.rows[size_t(next - b.first) * line], size_t(keep) * line);
      b.first = next;
    }
  }
  return true;
}

// The tiles of the level's current row of tiles, left to right.
bool TileBands::cut(size_t level) {
  const Band& b = bands_[level];
  const LevelSize size = levels_[level];
  const uint32_t y0 = spanFirst(b.tileRow), y1 = spanEnd(b.tileRow, size.height);
  const size_t line = size_t(size.width) * pixel_;
  for (uint32_t c = 0; c < columns(level); ++c) {
    const uint32_t x0 = spanFirst(c), x1 = spanEnd(c, size.width);
    TilePiece& t = tile_;
    t.level = level;
    t.column = c;
    t.row = b.tileRow;
    t.width = grid_.padded ? grid_.side : x1 - x0;
    t.height = grid_.padded ? grid_.side : y1 - y0;
    t.pixels.resize(size_t(t.width) * t.height * pixel_);
    if (grid_.padded)
      for (size_t i = 0; i < t.pixels.size(); i += pixel_) std::memcpy(&t.pixels[i], fill_.data(), pixel_);
    for (uint32_t y = y0; y < y1; ++y)
      std::memcpy(&t.pixels[size_t(y - y0) * t.width * pixel_], &b.rows[size_t(y - b.first) * line + x0 * pixel_],
                  size_t(x1 - x0) * pixel_);
    if (!sink_(t)) return false;
  }
  return true;
}

}  // namespace torvel
