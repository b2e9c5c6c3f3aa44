#include "engine/rules.h"

#include <cmath>

#include "engine/files.h"

namespace torvel {

std::string outputFolder(const std::string& chosenFolder, const std::string& inputPath) {
  std::string folder = !chosenFolder.empty() && folderExists(chosenFolder) ? chosenFolder : folderOf(inputPath);
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::vector<std::string> inputLimitRefusals(const ImageInfo& info) {
  std::vector<std::string> refusals;
  if (info.width == 0 || info.height == 0) refusals.push_back("Image dimension can't be = 0");
  if (info.width > maxInputSide || info.height > maxInputSide)
    refusals.push_back("Image dimensions exceed internal limits");
  return refusals;
}

std::string resizeSizeRefusal(uint32_t width, uint32_t height) {
  return "Width and height of the input file must be > 10000: the resize takes images with a side of 10000 pixels "
         "or more, and this one is " + std::to_string(width) + " × " + std::to_string(height) +
         " (convert or crop it instead)";
}

// The original words first, then which edge the crop passes and the image's size.
std::string outputFolderRefusal(const std::string& folder) {
  if (folderExists(folder)) return {};
  return "Output directory doesn't exists: " + folder + (fileExists(folder) ? " is a file, not a folder" : " does not exist");
}

std::string cropRefusal(uint32_t width, uint32_t height, int64_t x, int64_t y, int64_t w, int64_t h) {
  const int64_t wide = width, high = height;
  const std::string image = " of the " + std::to_string(wide) + " × " + std::to_string(high) + " image";
  const auto s = [](int64_t v) { return std::to_string(v); };
  if (x > wide - 1) return "X must >= 0 and < " + s(wide) + ": x = " + s(x) + " is past the right edge" + image;
  if (y > high - 1) return "Y must >= 0 and < " + s(high) + ": y = " + s(y) + " is past the bottom edge" + image;
  if (x + w > wide)
    return "Width must > 0 and <= " + s(wide - x) + ": from x = " + s(x) + ", " + s(w) + " pixels reach past the right edge" + image;
  if (y + h > high)
    return "Height must > 0 and <= " + s(high - y) + ": from y = " + s(y) + ", " + s(h) + " rows reach past the bottom edge" + image;
  return {};
}

uint32_t tileCount(uint32_t total, uint32_t tile) { return tile == 0 ? 0 : total / tile + (total % tile != 0); }

uint32_t pieceSize(uint32_t total, uint32_t piece, uint32_t index, uint32_t count) {
  return index == count && total % piece != 0 ? total % piece : piece;
}

uint32_t fitSplitTile(uint32_t requested, uint32_t imageSide) {
  if (requested > imageSide) requested = imageSide;
  if (requested > maxSplitTile) requested = maxSplitTile;
  return requested;
}

std::string mergeCountRefusal(int64_t expected, size_t fileCount) {
  const int64_t count = static_cast<int64_t>(fileCount);
  if (expected > count) return "One or more files are missing.\nPlease select " + std::to_string(expected) + " files";
  if (expected < count) return "Too many files selected.\nPlease select " + std::to_string(expected) + " files";
  return {};
}

int64_t resizeHeight(uint32_t width, uint32_t height, uint32_t newWidth) {
  const double ratio = static_cast<double>(width) / static_cast<double>(newWidth);
  const long double h = static_cast<long double>(height) / static_cast<long double>(ratio);
  // nearbyintl rounds halfway cases to even in the default rounding mode.
  return static_cast<int64_t>(std::nearbyintl(h));
}

}  // namespace torvel
