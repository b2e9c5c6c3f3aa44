// Operation set-up: the rules between the operation panels (or the command
// line) and the operations, toolkit-free so that both front ends share them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/torvel.h"

// Largest width or height the front ends accept for an input.
constexpr uint32_t MaxInputDimension = 300000;
// Largest split tile side.
constexpr uint32_t MaxSplitTile = 30000;

// The folder a run writes into, always ending in '/': the chosen folder when
// it exists, else the input's folder; empty when neither gives one.
std::string GetOutputFolder(const std::string& ChosenFolder, const std::string& FileName);

// The window's limits on a probed input; shows their messages through the
// error event and clears ImageIsOk. True when the input stays accepted.
bool CheckInputLimits(TTorvel& S);

// The first failing crop test's message, or empty when the rectangle fits.
std::string CropCheckMessage(uint32_t Width, uint32_t Height, int64_t X, int64_t Y, int64_t W, int64_t H);
// Checks the rectangle (refusal: message and Abort) and converts it.
void CropFile(TTorvel& S, int32_t X, int32_t Y, int32_t W, int32_t H, const std::string& OutDir);

// Tiles across a side of `total` pixels cut every `tile` pixels.
uint32_t TileCount(uint32_t total, uint32_t tile);
// A requested tile side fitted to the image side and the tile limit.
uint32_t FitSplitTile(uint32_t requested, uint32_t imageSide);

// The merge's file-count check: empty when N tiles match the file count.
std::string MergeCountMessage(int64_t N, size_t FileCount);
// Checks the count (refusal: message and Abort) and merges.
void MergeTiles(TTorvel& S, uint32_t TilesX, uint32_t TilesY, const std::vector<std::string>& Files,
                const std::string& OutDir);

// Reading a tile's column and row from its name as the input selection does;
// X and Y keep their values when the name holds no tile pattern.
void ExtractTileXY(const std::string& FileName, int32_t& X, int32_t& Y);
bool IsSupportedExt(const std::string& Ext);  // the caller upper-cases first

struct TMergeGrid {
  bool Ok = false;
  int32_t Cols = 0;
  int32_t Rows = 0;
  std::string Message;  // the refusal, or "N files selected"
};
// The grid of a set of selected tiles, with the selection's messages.
TMergeGrid DeriveMergeGrid(const std::vector<std::string>& Files);

// The resize height for a new width: nearest whole number, halfway to even.
int64_t ResizeHeight(uint32_t Width, uint32_t Height, uint32_t NewWidth);
