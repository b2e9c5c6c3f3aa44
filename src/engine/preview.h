// A small picture of an image, for looking at it before an operation: the
// image scaled to fit a box by picking the pixel nearest to each picture
// pixel's centre, read a row at a time and only the rows it shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/image.h"
#include "engine/run.h"

namespace torvel {

struct PreviewPicture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;  // 8-bit RGB, rows top to bottom
};

// The picture's size: the image scaled to fit `maxWidth` × `maxHeight`,
// never enlarged, at least one pixel each way.
void previewSize(uint32_t width, uint32_t height, uint32_t maxWidth, uint32_t maxHeight, uint32_t& pictureWidth,
                 uint32_t& pictureHeight);

// Along a side of `side` pixels shown in `shown`: the pixel nearest to the
// centre of picture pixel `i`.
inline uint32_t previewSource(uint32_t i, uint32_t side, uint32_t shown) {
  return static_cast<uint32_t>((uint64_t{2} * i + 1) * side / (uint64_t{2} * shown));
}

// The largest picture a preview holds.
inline constexpr uint64_t maxPreviewBytes = uint64_t{1} << 30;

// Makes the picture of an accepted image; progress counts picture rows and
// the context's token cancels. Alpha is left out, 16-bit samples keep their
// high byte.
RunResult makePreview(const ImageInfo& image, uint32_t maxWidth, uint32_t maxHeight, const RunContext& context,
                      PreviewPicture& picture);

// Writes 8-bit RGB as a PNG file; false with `why` on failure.
bool writePng(const std::string& path, const PreviewPicture& picture, std::string& why);

}  // namespace torvel
