// What a tile pyramid's descriptor says: a Deep Zoom .dzi, an IIIF
// info.json or a Zoomify ImageProperties.xml, as `info` reports it.
#pragma once

#include <cstdint>
#include <string>

namespace torvel {

struct PyramidInfo {
  std::string layout;  // "dz", "iiif", "zoomify"
  uint32_t width = 0, height = 0, tile = 0, overlap = 0;
  size_t levels = 0;
  std::string tileFormat;  // "jpg", "png"...; empty where the descriptor does not say
};

// Whether `path` is named as a pyramid's descriptor.
bool isPyramidDescriptor(const std::string& path);
// Reads the descriptor; false with `why` when it is damaged or not one.
bool readPyramidDescriptor(const std::string& path, PyramidInfo& info, std::string& why);

}  // namespace torvel
