// The levels of a pyramid and the rows that make them: each level half the
// size of the one above, every pixel the mean of the 2 × 2 pixels above it,
// made a row at a time as the rows above arrive, so that no level is ever
// held whole.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace torvel {

struct LevelSize {
  uint32_t width = 0, height = 0;
};

// How a level's size follows from the one above: rounded up (the last odd
// row or column is averaged over what exists), or down (it is left out).
enum class Halving { Up, Down };

// The sizes from the full image down, each half the one above, until both
// sides are at most `smallest` (1: down to one pixel). A level rounded down
// to nothing ends the list.
std::vector<LevelSize> halvedLevels(uint32_t width, uint32_t height, Halving halving, uint32_t smallest);

// Samples of a chain: 8 or 16 bits (host order), 1 to 4 channels, the last
// one alpha when `alpha` is set.
struct ChainPixels {
  int bits = 8;
  int channels = 3;
  bool alpha = false;
  size_t pixelBytes() const { return static_cast<size_t>(channels * bits / 8); }
};

// The mean of up to four pixels, rounded: alpha-aware where there is alpha
// (colours weighted by their alpha, so that transparent pixels do not darken
// their neighbours; plain means where all are transparent).
void meanOfPixels(const uint8_t* const* pixels, int count, const ChainPixels& layout, uint8_t* out);

// Feeds the rows of the full image in; hands every row of every level out,
// in order within each level, as soon as it is made.
class LevelChain {
 public:
  // Row `y` of `level` (0: the full image), width × pixelBytes() bytes;
  // false stops the chain.
  using RowSink = std::function<bool(size_t level, uint32_t y, const uint8_t* row)>;
  // `levels` as halvedLevels() makes them: their sizes say how odd edges go.
  LevelChain(std::vector<LevelSize> levels, ChainPixels layout, RowSink sink);

  // The next row of the full image; false when the sink stopped. A `kept`
  // row stays where it is until the row after it has been pushed, so the
  // chain need not copy it.
  bool push(const uint8_t* row, bool kept = false) { return pushAt(0, row, kept); }
  const std::vector<LevelSize>& levels() const { return levels_; }

 private:
  struct Pending {
    std::vector<uint8_t> row, halved;
    const uint8_t* held = nullptr;  // the upper row of the next pair: `row`, or the caller's kept row
    uint32_t next = 0;  // the level's next row
  };
  bool pushAt(size_t level, const uint8_t* row, bool kept = false);
  void halve(size_t level, const uint8_t* upper, const uint8_t* lower, uint8_t* out) const;

  std::vector<LevelSize> levels_;
  ChainPixels layout_;
  RowSink sink_;
  std::vector<Pending> pending_;
};

}  // namespace torvel
