#include "resize/tileresizer.h"

#include <pthread.h>

#include <cmath>
#include <cstdint>

#include "engine/files.h"
#include "engine/tilenames.h"
#include "resize/rawblock.h"

namespace torvel {

TileResizer::TileResizer(std::string sourcePath, long double divider, bool fast, int bits)
    : sourcePath_(std::move(sourcePath)), divider_(divider), filter_(fast ? ResizeFilter::Nearest : ResizeFilter::Lanczos),
      format_(formatOfBits(bits)) {}

TileResizer::~TileResizer() { wait(); }

void TileResizer::wait() {
  if (thread_.joinable()) thread_.join();
}

void TileResizer::start() {
  finished_ = false;
  thread_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "tile-resizer");
    run();
    finished_.store(true, std::memory_order_release);
  });
}

namespace {

// Round (side ÷ divider): nearest whole number, halfway to even; a side that
// rounds to 0 is refused by the scaling.
int32_t scaledSide(int32_t side, long double divider) {
  const long double v = std::nearbyintl(side / divider);
  return v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

}  // namespace

void TileResizer::run() {
  int32_t w = 0, h = 0;
  parseTileSize(sourcePath_, w, h);
  if (w <= 0 || h <= 0) return;  // no size in the name: nothing to do
  try {
    std::string base, ext;
    parseTileName(sourcePath_, base, ext);
    int32_t column = 0, row = 0;
    parseTilePos(sourcePath_, column, row);
    PixelBlock block = readRawBlock(sourcePath_, w, h, format_);
    scaleBlock(block, scaledSide(w, divider_), scaledSide(h, divider_), filter_);
    const std::string folderBase = folderOf(sourcePath_) + base;
    std::string name = column != 0 ? tileName(folderBase, block.width(), block.height(), column, row)
                                   : sizedName(folderBase, block.width(), block.height());
    name += "." + ext;
    writeRawBlock(name, block);
    outputPath_ = name;
  } catch (const std::exception& e) {
    failure_ = std::string("Resizing ") + sourcePath_ + ": " + e.what();
  }
}

}  // namespace torvel
