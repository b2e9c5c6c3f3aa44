#include "engine/image.h"

namespace torvel {

std::string channelsText(const ImageInfo& info) {
  if (info.fileLayout.empty()) return std::to_string(info.channels);
  return std::to_string(info.fileChannels) + " " + info.fileLayout + ", read as " + std::to_string(info.channels);
}

}  // namespace torvel
