#include "engine/pyramidlayout.h"

#include <cctype>
#include <string>

namespace torvel {

namespace {

const std::pair<const char*, PyramidLayout> layouts[] = {{"dz", PyramidLayout::DeepZoom},
                                                         {"iiif", PyramidLayout::Iiif},
                                                         {"zoomify", PyramidLayout::Zoomify},
                                                         {"xyz", PyramidLayout::Xyz}};

std::string str(uint64_t v) { return std::to_string(v); }

// A JSON string of plain text: quotes and backslashes escaped.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) >= 0x20) out += c;
  }
  return out + "\"";
}

// A name as a relative URL: everything but unreserved characters escaped,
// so that a page finds "my scan #2_files/" and no name can end its script.
std::string urlOf(const std::string& name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~')
      out += static_cast<char>(c);
    else
      out += std::string("%") + hex[c >> 4] + hex[c & 15];
  }
  return out;
}

}  // namespace

const char* layoutName(PyramidLayout layout) {
  for (const auto& [name, l] : layouts)
    if (l == layout) return name;
  return "dz";
}

bool layoutNamed(const std::string& name, PyramidLayout& layout) {
  for (const auto& [n, l] : layouts)
    if (name == n) {
      layout = l;
      return true;
    }
  return false;
}

// Deep Zoom goes down to one pixel; Zoomify halves rounding down, as its
// viewers count; the others stop at the first level that fits in a tile.
PyramidPlan::PyramidPlan(const PyramidSettings& settings, uint32_t width, uint32_t height, std::string name)
    : settings_(settings), width_(width), height_(height), name_(std::move(name)) {
  const PyramidLayout l = settings.layout;
  levels_ = halvedLevels(width, height, l == PyramidLayout::Zoomify ? Halving::Down : Halving::Up,
                         l == PyramidLayout::DeepZoom ? 1 : settings.tile);
  zoomifyFirst_.assign(levels_.size(), 0);
  uint64_t n = 0;
  for (size_t k = levels_.size(); k-- > 0;) {
    zoomifyFirst_[k] = n;
    n += uint64_t{columns(k)} * rows(k);
  }
}

TileGrid PyramidPlan::grid() const {
  const bool dz = settings_.layout == PyramidLayout::DeepZoom;
  return {settings_.tile, dz ? settings_.overlap : 0, settings_.layout == PyramidLayout::Xyz};
}

std::string PyramidPlan::folder() const {
  return settings_.layout == PyramidLayout::DeepZoom ? name_ + "_files" : name_;
}

std::string PyramidPlan::descriptorBeside() const {
  return settings_.layout == PyramidLayout::DeepZoom ? name_ + ".dzi" : "";
}

std::string PyramidPlan::descriptorInside() const {
  switch (settings_.layout) {
    case PyramidLayout::Iiif:
      return "info.json";
    case PyramidLayout::Zoomify:
      return "ImageProperties.xml";
    default:
      return "";
  }
}

std::string PyramidPlan::tilePath(size_t level, uint32_t column, uint32_t row) const {
  const std::string ext = tileExtension(settings_.encoding.format);
  const size_t z = levels_.size() - 1 - level;  // 0: the smallest
  switch (settings_.layout) {
    case PyramidLayout::DeepZoom:
      return str(z) + "/" + str(column) + "_" + str(row) + "." + ext;
    case PyramidLayout::Iiif:
      return iiifPath(level, column, row);
    case PyramidLayout::Zoomify: {
      const uint64_t n = zoomifyFirst_[level] + uint64_t{row} * columns(level) + column;
      return "TileGroup" + str(n / 256) + "/" + str(z) + "-" + str(column) + "-" + str(row) + "." + ext;
    }
    case PyramidLayout::Xyz:
      break;
  }
  return str(z) + "/" + str(column) + "/" + str(row) + "." + ext;
}

// As IIIF viewers ask for them: a level in one tile as the full region at
// its size ("max" for the image itself), others by their region in the full
// image and their size.
std::string PyramidPlan::iiifPath(size_t level, uint32_t column, uint32_t row) const {
  const std::string file = "/0/default." + std::string(tileExtension(settings_.encoding.format));
  const LevelSize l = levels_[level];
  if (l.width <= settings_.tile && l.height <= settings_.tile)
    return level == 0 ? "full/max" + file : "full/" + str(l.width) + "," + str(l.height) + file;
  const uint64_t side = uint64_t{settings_.tile} << level, x = column * side, y = row * side;
  const uint64_t w = std::min<uint64_t>(side, width_ - x), h = std::min<uint64_t>(side, height_ - y);
  const uint32_t sw = std::min(settings_.tile, l.width - column * settings_.tile);
  const uint32_t sh = std::min(settings_.tile, l.height - row * settings_.tile);
  return str(x) + "," + str(y) + "," + str(w) + "," + str(h) + "/" + str(sw) + "," + str(sh) + file;
}

std::string PyramidPlan::iiifInfo(const std::string& id) const {
  std::string factors;
  for (size_t k = 0; k < levels_.size(); ++k) factors += (k ? "," : "") + str(uint64_t{1} << k);
  const LevelSize smallest = levels_.back();
  return "{\"@context\": \"http://iiif.io/api/image/3/context.json\", \"id\": " + quoted(id) +
         ", \"type\": \"ImageService3\", \"protocol\": \"http://iiif.io/api/image\", \"profile\": \"level0\", "
         "\"width\": " + str(width_) + ", \"height\": " + str(height_) + ", \"sizes\": [{\"width\": " +
         str(smallest.width) + ", \"height\": " + str(smallest.height) + "}], \"tiles\": [{\"width\": " +
         str(settings_.tile) + ", \"height\": " + str(settings_.tile) + ", \"scaleFactors\": [" + factors + "]}]}";
}

std::string PyramidPlan::descriptorText() const {
  const std::string ext = tileExtension(settings_.encoding.format);
  switch (settings_.layout) {
    case PyramidLayout::DeepZoom:
      return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<Image xmlns=\"http://schemas.microsoft.com/deepzoom/2008\" Format=\"" + ext + "\" Overlap=\"" +
             str(settings_.overlap) + "\" TileSize=\"" + str(settings_.tile) + "\">\n  <Size Width=\"" + str(width_) +
             "\" Height=\"" + str(height_) + "\"/>\n</Image>\n";
    case PyramidLayout::Iiif:
      return iiifInfo(settings_.baseUrl.empty() ? name_ : settings_.baseUrl) + "\n";
    case PyramidLayout::Zoomify: {
      uint64_t tiles = 0;
      for (size_t k = 0; k < levels_.size(); ++k) tiles += uint64_t{columns(k)} * rows(k);
      return "<IMAGE_PROPERTIES WIDTH=\"" + str(width_) + "\" HEIGHT=\"" + str(height_) + "\" NUMTILES=\"" +
             str(tiles) + "\" NUMIMAGES=\"1\" VERSION=\"1.8\" TILESIZE=\"" + str(settings_.tile) + "\" />\n";
    }
    case PyramidLayout::Xyz:
      break;
  }
  return "";
}

std::string PyramidPlan::viewerSource() const {
  const std::string ext = tileExtension(settings_.encoding.format);
  switch (settings_.layout) {
    case PyramidLayout::DeepZoom:
      return "{Image: {xmlns: \"http://schemas.microsoft.com/deepzoom/2008\", Url: " + quoted(urlOf(folder()) + "/") +
             ", Format: \"" + ext + "\", Overlap: \"" + str(settings_.overlap) + "\", TileSize: \"" +
             str(settings_.tile) + "\", Size: {Width: \"" + str(width_) + "\", Height: \"" + str(height_) + "\"}}}";
    case PyramidLayout::Iiif:
      return iiifInfo(urlOf(folder()));  // tiles found beside the page
    case PyramidLayout::Zoomify:
      return "{type: \"zoomifytileservice\", width: " + str(width_) + ", height: " + str(height_) +
             ", tilesUrl: " + quoted(urlOf(folder()) + "/") + ", tileSize: " + str(settings_.tile) + ", fileFormat: \"" +
             ext + "\"}";
    case PyramidLayout::Xyz:
      break;
  }
  return "";
}

}  // namespace torvel
