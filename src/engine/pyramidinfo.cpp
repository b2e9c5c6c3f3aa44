#include "engine/pyramidinfo.h"

#include <cstdlib>

#include "engine/bytefile.h"
#include "engine/files.h"
#include "engine/pyramidlayout.h"

namespace torvel {

namespace {

// The value after `key` up to the next quote or comma: `Width="1500"` or `"width": 1500`.
std::string valueAfter(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return "";
  size_t begin = text.find_first_not_of(" \t\r\n:=\"", at + key.size());
  if (begin == std::string::npos) return "";
  const size_t end = text.find_first_of("\",} \t\r\n/>", begin);
  return text.substr(begin, end - begin);
}

uint32_t numberAfter(const std::string& text, const std::string& key) {
  const std::string v = valueAfter(text, key);
  if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos || v.size() > 9) return 0;
  return static_cast<uint32_t>(std::strtoul(v.c_str(), nullptr, 10));
}

// `text` without the array that follows `key` ("sizes": [...]).
std::string withoutArray(std::string text, const std::string& key) {
  const size_t at = text.find(key), end = text.find(']', at);
  return at == std::string::npos || end == std::string::npos ? text : text.erase(at, end + 1 - at);
}

}  // namespace

bool isPyramidDescriptor(const std::string& path) {
  const std::string name = fileNameOf(path);
  return extensionOf(name) == ".dzi" || name == "info.json" || name == "ImageProperties.xml";
}

bool readPyramidDescriptor(const std::string& path, PyramidInfo& info, std::string& why) {
  ByteFile file;
  std::string text(64 << 10, '\0');
  if (!file.openRead(path)) {
    why = systemErrorText(file.takeError());
    return false;
  }
  text.resize(file.read(text.data(), text.size()));
  const std::string name = fileNameOf(path);
  PyramidSettings s;
  if (extensionOf(name) == ".dzi") {
    info = {"dz", numberAfter(text, "Width"), numberAfter(text, "Height"), numberAfter(text, "TileSize"),
            numberAfter(text, "Overlap"), 0, valueAfter(text, "Format")};
  } else if (name == "info.json") {
    s.layout = PyramidLayout::Iiif;
    const size_t tiles = text.find("\"tiles\"");
    const std::string top = withoutArray(withoutArray(text, "\"sizes\""), "\"tiles\"");
    info = {"iiif", numberAfter(top, "\"width\""), numberAfter(top, "\"height\""),
            tiles == std::string::npos ? 0 : numberAfter(text.substr(tiles), "\"width\""), 0, 0, ""};
  } else {
    s.layout = PyramidLayout::Zoomify;
    info = {"zoomify", numberAfter(text, "WIDTH"), numberAfter(text, "HEIGHT"), numberAfter(text, "TILESIZE"), 0, 0, ""};
  }
  if (info.width == 0 || info.height == 0 || info.tile == 0) {
    why = "it is not a pyramid descriptor this program reads, or it is damaged";
    return false;
  }
  s.tile = info.tile;
  info.levels = PyramidPlan(s, info.width, info.height, "").levels().size();
  return true;
}

}  // namespace torvel
