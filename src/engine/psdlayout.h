// Where a Photoshop file keeps its pixels: the header, what the sections
// before the image data say, and where each plane's rows are stored, in the
// composite or in the one layer of a document that is a single plain layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/bytefile.h"
#include "engine/psd.h"

namespace torvel {

// Where the rows of one plane are.
struct PsdPlane {
  uint16_t compression = 0;  // 0 raw, 1 RLE, 2 ZIP, 3 ZIP with prediction
  int64_t countsAt = 0;      // RLE: the table of the plane's row byte counts
  int64_t dataAt = -1;       // the first row; -1: where the plane before ends (a composite's RLE)
  int64_t end = 0;           // the plane's data ends by here
  uint64_t skip = 0;         // ZIP: the stream's bytes before the plane
};

struct PsdLayout {
  PsdHeader header;
  std::vector<uint8_t> palette;  // an indexed image's colour table: 256 reds, greens, blues
  double dpiX = 0, dpiY = 0;
  std::string icc;
  bool merged = true;             // the file says its composite is real
  uint16_t compression = 0;       // the composite's: 0 raw, 1 RLE, 2 ZIP, 3 ZIP with prediction
  int64_t dataStart = 0;          // the composite after its compression field
  int layerCount = 0;             // as stored: negative when the composite's first extra channel is its transparency
  // A document of one visible, normal, fully opaque layer over the whole
  // canvas without mask or effects holds the image exactly in that layer
  // (the composite's colours are matted against white where it is
  // transparent): its colour planes, then its transparency.
  std::vector<PsdPlane> layerPlanes;
  std::vector<PsdPlane> planes;   // the planes read, in our order: colour, then alpha
  bool fromLayer = false;         // the planes are the layer's
  bool transparentComposite = false;  // a block says so where there is no layer count
  bool mergedAlpha() const { return layerCount < 0 || transparentComposite; }
  uint64_t rowBytes() const { return uint64_t{header.width} * (header.depth / 8); }
};

// Reads the sections up to the image data; false with `why`.
bool readPsdLayout(ByteFile& file, int64_t fileSize, PsdLayout& layout, std::string& why);
// The layer section from `at` to `end`: the layer count and, for a single
// plain layer, its planes. False when the section is damaged.
bool readPsdLayers(ByteFile& file, int64_t at, int64_t end, PsdLayout& layout);
// Chooses the planes read: the single plain layer's, else the composite's first `count`.
void choosePsdPlanes(PsdLayout& layout, int count);

// The rows of the planes chosen, each plane read in order.
class PsdPlanes {
 public:
  virtual ~PsdPlanes() = default;
  // Row `row` of plane `plane`, rowBytes() big-endian bytes, into `out`.
  virtual bool read(int plane, uint32_t row, uint8_t* out, std::string& why) = 0;
};

// Null with `why` when the data is not where the file says.
std::unique_ptr<PsdPlanes> openPsdPlanes(ByteFile& file, int64_t fileSize, const PsdLayout& layout,
                                         std::string& why);

// Whether the composite's data, every plane of it, lies within the file
// (where its compression lets that be known before reading); false with `why`.
bool psdCompositeFits(ByteFile& file, int64_t fileSize, const PsdLayout& layout, std::string& why);

// One plane's rows stored with ZIP: inflated in order from its stream.
class PsdRows {
 public:
  virtual ~PsdRows() = default;
  virtual bool read(uint32_t row, uint8_t* out, std::string& why) = 0;
};
std::unique_ptr<PsdRows> openPsdZipRows(ByteFile& file, const PsdLayout& layout, const PsdPlane& plane);

}  // namespace torvel
