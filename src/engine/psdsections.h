// The sections of a Photoshop file before its image data, as our writer
// makes them: the header, the image resources (resolution, colour profile)
// and the record of a single layer over the whole canvas.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/bytefile.h"
#include "engine/image.h"

namespace torvel {

// The header, an empty colour mode section and the image resources.
std::vector<uint8_t> psdHead(const ImageInfo& info, bool large);

// Where the lengths known only once the layer is written go.
struct PsdLayerRecord {
  int64_t sectionAt = 0;                // the layer and mask section's length
  int64_t infoAt = 0;                   // the layer info's length
  std::vector<int64_t> channelLengthAt;  // each channel's length, in the order of the planes
};

// Appends the layer section's start for one normal, opaque layer holding
// every channel of `info` (colours, then transparency): the record, with
// room for its lengths. The channels' data follows it.
PsdLayerRecord appendLayerRecord(std::vector<uint8_t>& out, const ImageInfo& info, bool large);

// Writes a section or channel length at `at`: eight bytes in a PSB, four in a PSD.
void putPsdLength(ByteFile& file, int64_t at, int64_t length, bool large);

}  // namespace torvel
