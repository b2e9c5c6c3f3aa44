// Tile file names: the size, position and BigTIFF suffixes that tie the files
// of Split, Merge and Resize together. Plain functions, safe on any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

void ParseTileName(const std::string& FileName, std::string& BaseName, std::string& Ext);
std::string TileBaseName(const std::string& FileName);
void ParseTileSize(const std::string& FileName, int32_t& Width, int32_t& Height);
void ParseTilePos(const std::string& FileName, int32_t& X, int32_t& Y);
// The first file of Files that carries position X, Y and the extension of
// Files[0]; empty when there is none.
std::string FindTile(const std::vector<std::string>& Files, uint32_t X, uint32_t Y);

// FindTile over one list for many lookups: the names are upper-cased once.
class TTileIndex {
 public:
  explicit TTileIndex(const std::vector<std::string>& Files);
  std::string Find(uint32_t X, uint32_t Y) const;

 private:
  const std::vector<std::string>& files_;
  std::vector<std::string> upper_;
  std::string ext_;
};
