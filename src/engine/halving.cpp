#include "engine/halving.h"

#include <cstring>

namespace torvel {

std::vector<LevelSize> halvedLevels(uint32_t width, uint32_t height, Halving halving, uint32_t smallest) {
  std::vector<LevelSize> levels{{width, height}};
  const uint32_t up = halving == Halving::Up ? 1 : 0;
  while (levels.back().width > smallest || levels.back().height > smallest) {
    const LevelSize& l = levels.back();
    const LevelSize half{(l.width + up) / 2, (l.height + up) / 2};
    if (half.width == 0 || half.height == 0) break;
    levels.push_back(half);
  }
  return levels;
}

namespace {

template <typename Sample>
void mean(const uint8_t* const* pixels, int count, const ChainPixels& layout, uint8_t* out) {
  const int colours = layout.alpha ? layout.channels - 1 : layout.channels;
  const auto sample = [&](int p, int c) { return uint64_t{reinterpret_cast<const Sample*>(pixels[p])[c]}; };
  Sample* o = reinterpret_cast<Sample*>(out);
  const uint64_t half = static_cast<uint64_t>(count) / 2;
  uint64_t alphaSum = 0;
  if (layout.alpha) {
    for (int p = 0; p < count; ++p) alphaSum += sample(p, colours);
    o[colours] = static_cast<Sample>((alphaSum + half) / count);
  }
  for (int c = 0; c < colours; ++c) {
    uint64_t sum = 0;
    if (alphaSum > 0) {
      for (int p = 0; p < count; ++p) sum += sample(p, c) * sample(p, colours);
      o[c] = static_cast<Sample>((sum + alphaSum / 2) / alphaSum);
    } else {
      for (int p = 0; p < count; ++p) sum += sample(p, c);
      o[c] = static_cast<Sample>((sum + half) / count);
    }
  }
}

}  // namespace

void meanOfPixels(const uint8_t* const* pixels, int count, const ChainPixels& layout, uint8_t* out) {
  if (layout.bits == 16)
    mean<uint16_t>(pixels, count, layout, out);
  else
    mean<uint8_t>(pixels, count, layout, out);
}

LevelChain::LevelChain(std::vector<LevelSize> levels, ChainPixels layout, RowSink sink)
    : levels_(std::move(levels)), layout_(layout), sink_(std::move(sink)), pending_(levels_.size()) {
  for (size_t l = 0; l < levels_.size(); ++l) {
    pending_[l].row.resize(levels_[l].width * layout_.pixelBytes());
    if (l + 1 < levels_.size()) pending_[l].halved.resize(levels_[l + 1].width * layout_.pixelBytes());
  }
}

// A row of `level` goes out; every second one (and a last odd one, rounding
// up) makes a row of the level below with the one before it.
bool LevelChain::pushAt(size_t level, const uint8_t* row, bool kept) {
  Pending& p = pending_[level];
  const uint32_t y = p.next++;
  if (!sink_(level, y, row)) return false;
  if (level + 1 >= levels_.size() || y / 2 >= levels_[level + 1].height) return true;
  const bool last = p.next == levels_[level].height;
  if (!p.held && !last) {
    if (!kept) row = static_cast<const uint8_t*>(std::memcpy(p.row.data(), row, p.row.size()));
    p.held = row;
    return true;
  }
  halve(level, p.held ? p.held : row, p.held ? row : nullptr, p.halved.data());
  p.held = nullptr;
  return pushAt(level + 1, p.halved.data());
}

namespace {

// The mean of whole 2 × 2 blocks without alpha, as meanOfPixels makes it:
// (a + b + c + d + 2) / 4, sample by sample. Returns the pixels made.
template <typename Sample, int Channels>
size_t meanOfBlocks(const uint8_t* upperRow, const uint8_t* lowerRow, size_t pixels, uint8_t* outRow) {
  const auto* u = reinterpret_cast<const Sample*>(upperRow);
  const auto* l = reinterpret_cast<const Sample*>(lowerRow);
  auto* o = reinterpret_cast<Sample*>(outRow);
  for (size_t x = 0; x < pixels; ++x, u += 2 * Channels, l += 2 * Channels, o += Channels)
    for (int c = 0; c < Channels; ++c)
      o[c] = static_cast<Sample>((uint32_t{u[c]} + u[c + Channels] + l[c] + l[c + Channels] + 2) >> 2);
  return pixels;
}

template <typename Sample>
size_t meanOfBlocks(const uint8_t* upper, const uint8_t* lower, size_t pixels, int channels, uint8_t* out) {
  switch (channels) {
    case 1: return meanOfBlocks<Sample, 1>(upper, lower, pixels, out);
    case 3: return meanOfBlocks<Sample, 3>(upper, lower, pixels, out);
    default: return 0;  // left to the general mean
  }
}

}  // namespace

// Two rows (or one, at an odd end) of `level` into a row of the level below.
void LevelChain::halve(size_t level, const uint8_t* upper, const uint8_t* lower, uint8_t* out) const {
  const size_t bytes = layout_.pixelBytes(), width = levels_[level + 1].width, above = levels_[level].width;
  size_t x = 0;
  // The bulk of a row goes the quick way; edges and alpha the general one.
  if (lower && !layout_.alpha)
    x = layout_.bits == 16 ? meanOfBlocks<uint16_t>(upper, lower, above / 2, layout_.channels, out)
                           : meanOfBlocks<uint8_t>(upper, lower, above / 2, layout_.channels, out);
  for (; x < width; ++x) {
    const uint8_t* pixels[4] = {};
    int count = 0;
    for (const uint8_t* row : {upper, lower}) {
      if (!row) continue;
      pixels[count++] = row + 2 * x * bytes;
      if (2 * x + 1 < above) pixels[count++] = row + (2 * x + 1) * bytes;
    }
    meanOfPixels(pixels, count, layout_, out + x * bytes);
  }
}

}  // namespace torvel
