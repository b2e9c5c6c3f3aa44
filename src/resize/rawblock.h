// Headerless RAW files to and from pixel blocks.
#pragma once

#include <string>

#include "resize/pixelblock.h"

namespace torvel {

// Reads width x height pixels from the start of a headerless file. Pixels
// past the end of a shorter file are black; a longer file's rest is ignored.
// Throws ImagingError when the file cannot be read.
PixelBlock readRawBlock(const std::string& path, int32_t width, int32_t height, PixelFormat format);
// Writes the block's pixels as a new headerless file; throws ImagingError.
void writeRawBlock(const std::string& path, const PixelBlock& block);

}  // namespace torvel
