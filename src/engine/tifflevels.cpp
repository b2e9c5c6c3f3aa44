#include "engine/tifflevels.h"

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "engine/files.h"

namespace torvel {

namespace {

// A file with no name in `folder`, gone however the process ends: O_TMPFILE,
// or where the file system lacks it a file unlinked as soon as it is made.
int unnamedFile(const std::string& folder) {
  const std::string dir = folder.empty() ? "." : folder;
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  std::string name = dir + "/.torvel-levels-XXXXXX";
  const int made = ::mkostemp(name.data(), O_CLOEXEC);
  if (made >= 0) ::unlink(name.c_str());
  return made;
}

}  // namespace

TiffLevels::TiffLevels(const ImageInfo& info, uint32_t tileSide, LevelTags tags)
    : info_(info), side_(tileSide), tags_(std::move(tags)),
      levels_(halvedLevels(info.width, info.height, Halving::Up, tileSide)), chunks_(levels_.size()),
      encoders_(levels_.size()) {}

TiffLevels::~TiffLevels() = default;

bool TiffLevels::start(const std::string& folder, std::string& why) {
  const int fd = unnamedFile(folder);
  if (fd < 0) {
    why = systemErrorText(errno);
    return false;
  }
  store_.adopt(fd);
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  for (size_t l = 1; l < levels_.size(); ++l) {
    // The first reduced level is a quarter of the work, the others less;
    // two tiles a thread keep each busy (more would only hold memory).
    const unsigned threads = l == 1 ? std::max(1u, cores / 2) : 1u;
    const LevelSize size = levels_[l];
    encoders_[l] = std::make_unique<ChunkEncoder>(
        ChunkEncoder::Settings{[this, size](TIFF* t) { tags_(t, size); }, true, false}, threads, 2 * threads);
    if (!encoders_[l]->start(why)) return false;
  }
  const ChainPixels pixels{info_.bits, info_.channels, info_.channels % 2 == 0};
  bands_ = std::make_unique<TileBands>(levels_, pixels.pixelBytes(), TileGrid{side_, 0, true},
                                       std::vector<uint8_t>(pixels.pixelBytes(), 0), [this](TilePiece& t) {
                                         return encoders_[t.level]->add(
                                             t.pixels.data(), t.pixels.size(),
                                             [this, l = t.level](uint32_t, const std::vector<uint8_t>& b) { return keep(l, b); },
                                             why_);
                                       });
  chain_ = std::make_unique<LevelChain>(levels_, pixels, [this](size_t level, uint32_t y, const uint8_t* row) {
    return level == 0 || bands_->add(level, y, row);  // the full image is the writer's own
  });
  return true;
}

bool TiffLevels::keep(size_t level, const std::vector<uint8_t>& bytes) {
  store_.write(bytes.data(), bytes.size());
  if (const int e = store_.takeError()) {
    why_ = systemErrorText(e);
    return false;
  }
  chunks_[level].push_back({stored_, bytes.size()});
  stored_ += bytes.size();
  return true;
}

bool TiffLevels::addRow(const uint8_t* row, bool kept, std::string& why) {
  if (chain_->push(row, kept)) return true;
  why = why_;
  return false;
}

bool TiffLevels::write(TIFF* tiff, std::string& why) {
  for (size_t l = 1; l < levels_.size(); ++l) {
    auto writer = [this, l](uint32_t, const std::vector<uint8_t>& b) { return keep(l, b); };
    if (!encoders_[l]->drain(writer, why_)) {
      why = why_;
      return false;
    }
  }
  for (size_t l = 1; l < levels_.size(); ++l)
    if (!writeLevel(tiff, l, why)) return false;
  return true;
}

// Ends the directory before, then the level's: its tags, its tables, its tiles.
bool TiffLevels::writeLevel(TIFF* tiff, size_t level, std::string& why) {
  if (!TIFFWriteDirectory(tiff)) return false;
  tags_(tiff, levels_[level]);
  TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  const std::vector<uint8_t> tables = encoders_[level]->jpegTables();
  if (!tables.empty()) TIFFSetField(tiff, TIFFTAG_JPEGTABLES, static_cast<uint32_t>(tables.size()), tables.data());
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < chunks_[level].size(); ++i) {
    const Chunk c = chunks_[level][i];
    bytes.resize(static_cast<size_t>(c.size));
    if (store_.readAt(static_cast<int64_t>(c.at), bytes.data(), bytes.size()) != bytes.size()) {
      why = systemErrorText(store_.takeError());
      return false;
    }
    if (TIFFWriteRawTile(tiff, static_cast<uint32_t>(i), bytes.data(), static_cast<tmsize_t>(bytes.size())) < 0)
      return false;
  }
  return true;
}

}  // namespace torvel
