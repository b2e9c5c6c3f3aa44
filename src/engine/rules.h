// The set-up rules between the front ends and the operations: the output
// folder, the input limits, the crop, split, merge and resize fields. The
// tile names that tie split and merge together are in tilenames.h.
#pragma once

#include <cstdint>
#include <string>

#include "engine/image.h"

namespace torvel {

// Largest width or height the front ends accept for an input.
inline constexpr uint32_t maxInputSide = 300000;
// Largest split tile side.
inline constexpr uint32_t maxSplitTile = 30000;

// The folder a run writes into, always ending in '/': the chosen folder when
// it exists, else the input's folder; empty when neither gives one.
std::string outputFolder(const std::string& chosenFolder, const std::string& inputPath);

// The front ends' limits on a probed input: the messages of the limits it
// breaks, in order; none when it stays accepted.
std::vector<std::string> inputLimitRefusals(const ImageInfo& info);

// The first failing crop check's message, or empty when the region fits.
// Why an image is too small for the resize: it needs a side of 10000 pixels or more.
std::string resizeSizeRefusal(uint32_t width, uint32_t height);
// Why `folder` cannot take outputs (it is missing or a file); empty when it can.
std::string outputFolderRefusal(const std::string& folder);
std::string cropRefusal(uint32_t width, uint32_t height, int64_t x, int64_t y, int64_t w, int64_t h);

// Tiles across a side of `total` pixels cut every `tile` pixels.
uint32_t tileCount(uint32_t total, uint32_t tile);
// The size of piece `index` (from 1) of `count` pieces of `piece` pixels
// cut from `total`: the last one takes the remainder.
uint32_t pieceSize(uint32_t total, uint32_t piece, uint32_t index, uint32_t count);
// A requested tile side fitted to the image side and the tile limit.
uint32_t fitSplitTile(uint32_t requested, uint32_t imageSide);

// The merge's file-count check: empty when `expected` tiles match the count.
std::string mergeCountRefusal(int64_t expected, size_t fileCount);

// The resize height for a new width: nearest whole number, halfway to even.
int64_t resizeHeight(uint32_t width, uint32_t height, uint32_t newWidth);

}  // namespace torvel
