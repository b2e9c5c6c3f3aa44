// Tile file names: the size, position and BigTIFF suffixes that tie the files
// of Split, Merge and Resize together. Plain functions, safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvel {

// Splits a path into its base name (no folder, extension or suffixes) and
// its extension (without the dot; "big." in front for BigTIFF names).
void parseTileName(const std::string& path, std::string& baseName, std::string& ext);
std::string tileBaseName(const std::string& path);
// The size suffix "_WxH"; both 0 when the name has none.
void parseTileSize(const std::string& path, int32_t& width, int32_t& height);
// The position suffix "_xCyR"; both 0 when the name has none.
void parseTilePos(const std::string& path, int32_t& column, int32_t& row);

// The names the system builds: `base` + "_" + W + "X" + H, and a tile's
// name, which adds "_x" + column + "y" + row.
std::string sizedName(const std::string& base, uint64_t width, uint64_t height);
std::string tileName(const std::string& base, uint64_t width, uint64_t height, uint32_t column, uint32_t row);

// A tile's column and row read from its name as the input selection does;
// both keep their values when the name holds no tile pattern.
void extractTileXY(const std::string& name, int32_t& column, int32_t& row);

struct MergeGrid {
  bool ok = false;
  int32_t columns = 0;
  int32_t rows = 0;
  std::string message;  // the refusal, or "N files selected"
};
// The grid of a set of selected tiles, with the selection's messages.
MergeGrid mergeGridOf(const std::vector<std::string>& files);

// Finds tiles by position among a list of names: the first name that carries
// "_X<c>Y<r>." and the extension of the list's first name, in any case.
class TileIndex {
 public:
  explicit TileIndex(const std::vector<std::string>& files);
  // Empty when there is no such tile.
  std::string find(uint32_t column, uint32_t row) const;

 private:
  const std::vector<std::string>& files_;
  std::vector<std::string> upper_;
  std::string ext_;
};

}  // namespace torvel
