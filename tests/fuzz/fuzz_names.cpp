// Any text as a file name: the tile-name readers and the names made from them.
#include <cstdint>
#include <string>

#include "engine/tilenames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path(reinterpret_cast<const char*>(data), size);
  std::string base, ext;
  int32_t width = 0, height = 0, column = 0, row = 0;
  torvel::parseTileName(path, base, ext);
  torvel::parseTileSize(path, width, height);
  torvel::parseTilePos(path, column, row);
  if (width > 0 && height > 0) (void)torvel::sizedName(base, static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  return 0;
}
