// The reduced levels of a pyramidal TIFF, made in the same pass as the full
// image: each level half the one above (the 2 × 2 mean), down to one tile,
// its tiles coded on the way and kept in an unnamed temporary file beside
// the output until the full image's directory is written; then each level
// follows as a directory of its own (a reduced-resolution image).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/bytefile.h"
#include "engine/chunkencoder.h"
#include "engine/halving.h"
#include "engine/image.h"
#include "engine/tilebands.h"

struct tiff;
typedef struct tiff TIFF;

namespace torvel {

class TiffLevels {
 public:
  // Sets a level's tags on a handle: its size, then the file's own.
  using LevelTags = std::function<void(TIFF* tiff, const LevelSize& size)>;
  TiffLevels(const ImageInfo& info, uint32_t tileSide, LevelTags tags);
  ~TiffLevels();

  // The temporary file in `folder` and the levels' coders; false with `why`.
  bool start(const std::string& folder, std::string& why);
  // The next row of the full image; false with `why`. A `kept` row stays
  // where it is until the next one is added.
  bool addRow(const uint8_t* row, bool kept, std::string& why);
  // Appends the levels after the full image's directory; false with `why`.
  bool write(TIFF* tiff, std::string& why);
  size_t count() const { return levels_.size() - 1; }

 private:
  struct Chunk {
    uint64_t at, size;
  };
  bool keep(size_t level, const std::vector<uint8_t>& bytes);
  bool writeLevel(TIFF* tiff, size_t level, std::string& why);

  ImageInfo info_;
  uint32_t side_;
  LevelTags tags_;
  std::vector<LevelSize> levels_;
  ByteFile store_;
  uint64_t stored_ = 0;
  std::vector<std::vector<Chunk>> chunks_;
  std::vector<std::unique_ptr<ChunkEncoder>> encoders_;  // [0] unused: the full image has its own
  std::unique_ptr<TileBands> bands_;
  std::unique_ptr<LevelChain> chain_;
  std::string why_;
};

}  // namespace torvel
