#include "resize/regionio.h"

#include "engine/files.h"

namespace torvel {

namespace {

[[noreturn]] void fileError(const char* action, const std::string& path, const std::string& why) {
  throw ImagingError(std::string(action) + " file \"" + path + "\". " + why);
}

}  // namespace

std::unique_ptr<RegionReader> RegionReader::open(const ImageInfo& image, std::string& why) {
  const bool resizeLayout = image.channels == 3 && image.littleEndian;
  if (!resizeLayout) {
    why = "its pixels are not stored as three samples";
    return nullptr;
  }
  std::unique_ptr<RegionReader> r(new RegionReader);
  r->image_ = image;
  r->rows_ = openReader(image, why);
  if (!r->rows_) return nullptr;
  if (!r->rows_->readsRegionsDirectly()) {
    why = "its rows are not stored as they are read";
    return nullptr;
  }
  return r;
}

void RegionReader::read(uint32_t x, uint32_t y, PixelBlock& block) {
  if (!rows_->readRegion(x, y, static_cast<uint32_t>(block.width()), static_cast<uint32_t>(block.height()),
                         block.data(), static_cast<size_t>(block.rowBytes())))
    fileError("Cannot read", image_.path, rows_->error());
}

RegionWriter::RegionWriter(const std::string& path, uint32_t width, int bytesPerPixel)
    : path_(path), lineBytes_(uint64_t{width} * static_cast<uint64_t>(bytesPerPixel)), bytesPerPixel_(bytesPerPixel) {
  if (!file_.createNew(path)) fileError("Cannot create", path, systemErrorText(file_.takeError()));
}

void RegionWriter::write(uint32_t x, uint32_t y, const PixelBlock& block) {
  const size_t bytes = size_t(block.width()) * static_cast<size_t>(bytesPerPixel_);
  for (int32_t r = 0; r < block.height(); ++r) {
    const int64_t at = static_cast<int64_t>((y + static_cast<uint64_t>(r)) * lineBytes_ + uint64_t{x} * bytesPerPixel_);
    file_.writeAt(at, block.row(r), bytes);
    if (int e = file_.takeError()) fileError("Cannot write", path_, systemErrorText(e));
  }
}

void RegionWriter::close() {
  file_.close();
  if (int e = file_.takeError()) fileError("Cannot write", path_, systemErrorText(e));
}

}  // namespace torvel
