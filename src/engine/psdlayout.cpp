#include "engine/psdlayout.h"

#include <algorithm>
#include <cstring>

#include "engine/files.h"

namespace torvel {

namespace {

// A length field: 8 bytes in a PSB where the format widens it, 4 elsewhere.
bool readLength(ByteFile& file, int64_t& at, bool wide, uint64_t& length) {
  uint8_t b[8] = {};
  const size_t n = wide ? 8 : 4;
  if (file.readAt(at, b, n) != n) return false;
  length = wide ? uint64_t{bigEndian32(b)} << 32 | bigEndian32(b + 4) : bigEndian32(b);
  at += static_cast<int64_t>(n);
  return true;
}

// 16.16 fixed point resolution in pixels per inch (the unit 2 is per centimetre).
double resolution(const uint8_t* p) {
  const double value = bigEndian32(p) / 65536.0;
  return bigEndian16(p + 4) == 2 ? value * 2.54 : value;
}

void takeResource(uint16_t id, const std::vector<uint8_t>& data, PsdLayout& l) {
  if (id == 1005 && data.size() >= 16) {
    // Some writers put a placeholder of a fraction of a dot: no resolution.
    l.dpiX = resolution(data.data());
    l.dpiY = resolution(data.data() + 8);
    if (l.dpiX < 1 || l.dpiY < 1) l.dpiX = l.dpiY = 0;
  } else if (id == 1039) {
    l.icc.assign(data.begin(), data.end());
  } else if (id == 1057 && data.size() >= 5) {
    l.merged = data[4] != 0;  // hasRealMergedData
  }
}

// The image resource blocks: "8BIM", an id, a padded name, a padded datum.
bool readResources(ByteFile& file, int64_t at, int64_t end, PsdLayout& l) {
  while (at + 12 <= end) {
    uint8_t head[7];
    if (file.readAt(at, head, 7) != 7) return false;
    const uint16_t id = bigEndian16(head + 4);
    const int64_t nameBytes = (head[6] + 2) & ~1;  // length byte and name, padded to even
    uint8_t size[4];
    if (file.readAt(at + 6 + nameBytes, size, 4) != 4) return false;
    const int64_t bytes = bigEndian32(size), data = at + 6 + nameBytes + 4;
    if (bytes > end - data) return false;
    if (id == 1005 || id == 1039 || id == 1057) {
      std::vector<uint8_t> datum(static_cast<size_t>(bytes));
      if (file.readAt(data, datum.data(), datum.size()) != datum.size()) return false;
      takeResource(id, datum, l);
    }
    at = data + ((bytes + 1) & ~int64_t{1});
  }
  return true;
}

}  // namespace

bool readPsdLayout(ByteFile& file, int64_t fileSize, PsdLayout& l, std::string& why) {
  uint8_t head[psdHeaderSize];
  why = "it ends inside its sections";
  if (file.readAt(0, head, psdHeaderSize) != psdHeaderSize || !decodePsdHeader(head, l.header)) {
    why = "its header is not Photoshop's";
    return false;
  }
  int64_t at = psdHeaderSize;
  uint64_t length = 0;
  if (!readLength(file, at, false, length) || length > uint64_t(fileSize - at)) return false;
  if (l.header.mode == psdmode::indexed && length >= 768) {
    l.palette.resize(768);
    if (file.readAt(at, l.palette.data(), 768) != 768) return false;
  }
  at += static_cast<int64_t>(length);
  if (!readLength(file, at, false, length) || length > uint64_t(fileSize - at)) return false;
  if (!readResources(file, at, at + static_cast<int64_t>(length), l)) return false;
  at += static_cast<int64_t>(length);
  if (!readLength(file, at, l.header.large(), length) || length > uint64_t(fileSize - at)) return false;
  if (!readPsdLayers(file, at, at + static_cast<int64_t>(length), l)) {
    why = "its layer section is damaged";
    return false;
  }
  at += static_cast<int64_t>(length);
  uint8_t compression[2];
  if (file.readAt(at, compression, 2) != 2) return false;
  l.compression = bigEndian16(compression);
  l.dataStart = at + 2;
  why.clear();
  return true;
}

void choosePsdPlanes(PsdLayout& l, int count) {
  l.planes.clear();
  l.fromLayer = !l.layerPlanes.empty();
  if (l.fromLayer) {
    l.planes = l.layerPlanes;
    return;
  }
  const uint64_t h = l.header.height, rowBytes = l.rowBytes();
  const int64_t entry = l.header.large() ? 4 : 2;
  for (int p = 0; p < count; ++p) {
    PsdPlane plane;
    plane.compression = l.compression;
    if (l.compression == 0) {
      plane.dataAt = l.dataStart + static_cast<int64_t>(p * h * rowBytes);
    } else if (l.compression == 1) {
      plane.countsAt = l.dataStart + p * static_cast<int64_t>(h) * entry;
      if (p == 0) plane.dataAt = l.dataStart + int64_t{l.header.channels} * static_cast<int64_t>(h) * entry;
    } else {
      plane.dataAt = l.dataStart;
      plane.skip = p * h * rowBytes;
    }
    l.planes.push_back(plane);
  }
}

namespace {

class RawRows : public PsdRows {
 public:
  RawRows(ByteFile& file, const PsdLayout& l, const PsdPlane& p) : file_(file), at_(p.dataAt), bytes_(l.rowBytes()) {}
  bool read(uint32_t row, uint8_t* out, std::string& why) override {
    const size_t n = static_cast<size_t>(bytes_);
    if (file_.readAt(at_ + static_cast<int64_t>(row * bytes_), out, n) == n && file_.takeError() == 0) return true;
    why = "the file ends before the image does";
    return false;
  }

 private:
  ByteFile& file_;
  int64_t at_;
  uint64_t bytes_;
};

// RLE rows are sought by the table of their byte counts, kept as offsets.
class RleRows : public PsdRows {
 public:
  RleRows(ByteFile& file, const PsdLayout& l) : file_(file), bytes_(l.rowBytes()) {}
  bool readTable(const PsdLayout& l, const PsdPlane& plane, int64_t dataAt, std::string& why);
  int64_t end() const { return static_cast<int64_t>(offsets_.back()); }
  bool read(uint32_t row, uint8_t* out, std::string& why) override {
    const size_t n = static_cast<size_t>(offsets_[row + 1] - offsets_[row]);
    if (file_.readAt(static_cast<int64_t>(offsets_[row]), packed_.data(), n) == n &&
        unpackBits(packed_.data(), n, out, static_cast<size_t>(bytes_)))
      return true;
    why = "its RLE data is damaged";
    return false;
  }

 private:
  ByteFile& file_;
  uint64_t bytes_;
  std::vector<uint64_t> offsets_;  // each row's start, then the plane's end
  std::vector<uint8_t> packed_;
};

bool RleRows::readTable(const PsdLayout& l, const PsdPlane& plane, int64_t dataAt, std::string& why) {
  const uint32_t h = l.header.height;
  const size_t entry = l.header.large() ? 4 : 2;
  // Checked before anything is sized by it: the height may be a lie.
  if (uint64_t{h} * entry > static_cast<uint64_t>(std::max<int64_t>(0, plane.end - plane.countsAt))) {
    why = "its table of RLE rows runs past the end of the file";
    return false;
  }
  std::vector<uint8_t> counts(size_t(h) * entry);
  offsets_.resize(size_t(h) + 1);
  uint64_t at = static_cast<uint64_t>(dataAt), largest = 0;
  if (file_.readAt(plane.countsAt, counts.data(), counts.size()) != counts.size()) {
    why = "its table of RLE rows runs past the end of the file";
    return false;
  }
  for (uint32_t r = 0; r < h; ++r) {
    offsets_[r] = at;
    const uint32_t n = entry == 4 ? bigEndian32(&counts[r * 4]) : bigEndian16(&counts[r * 2]);
    largest = std::max<uint64_t>(largest, n);
    at += n;
  }
  offsets_[h] = at;
  // Runs of at least one byte per 128: anything longer is damage.
  if (at > static_cast<uint64_t>(plane.end) || largest > bytes_ + bytes_ / 64 + 16) {
    why = "its RLE rows run past the end of their data or are longer than a row can be";
    return false;
  }
  packed_.resize(static_cast<size_t>(largest));
  return true;
}

class ChosenPlanes : public PsdPlanes {
 public:
  std::vector<std::unique_ptr<PsdRows>> rows;
  bool read(int plane, uint32_t row, uint8_t* out, std::string& why) override {
    return rows[static_cast<size_t>(plane)]->read(row, out, why);
  }
};

}  // namespace

bool psdCompositeFits(ByteFile& file, int64_t fileSize, const PsdLayout& l, std::string& why) {
  const uint64_t h = l.header.height, channels = l.header.channels, entry = l.header.large() ? 4 : 2;
  const uint64_t room = static_cast<uint64_t>(std::max<int64_t>(0, fileSize - l.dataStart));
  why = "its composite runs past the end of the file";
  if (l.compression == 0) return channels * h * l.rowBytes() <= room;
  if (l.compression != 1) return true;  // ZIP: found out while inflating
  if (channels * h * entry > room) return false;
  // The sum of every row's count, read a piece of the table at a time.
  uint64_t sum = channels * h * entry;
  std::vector<uint8_t> piece(size_t{1} << 16);
  for (uint64_t done = 0, total = channels * h * entry; done < total;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(piece.size(), total - done));
    if (file.readAt(l.dataStart + static_cast<int64_t>(done), piece.data(), n) != n) return false;
    for (size_t i = 0; i < n; i += entry) sum += entry == 4 ? bigEndian32(&piece[i]) : bigEndian16(&piece[i]);
    done += n;
  }
  return sum <= room;
}

std::unique_ptr<PsdPlanes> openPsdPlanes(ByteFile& file, int64_t fileSize, const PsdLayout& l, std::string& why) {
  auto planes = std::make_unique<ChosenPlanes>();
  int64_t previousEnd = 0;
  for (PsdPlane p : l.planes) {
    if (p.end == 0 || p.end > fileSize) p.end = fileSize;
    if (p.compression > 3) {
      why = "a layer's compression is not read (scheme " + std::to_string(p.compression) + ")";
      return nullptr;
    }
    if (p.compression == 0 && l.rowBytes() * l.header.height > static_cast<uint64_t>(p.end - p.dataAt)) {
      why = "its image data runs past the end of the file";
      return nullptr;
    }
    if (p.compression == 1) {
      auto rle = std::make_unique<RleRows>(file, l);
      if (!rle->readTable(l, p, p.dataAt >= 0 ? p.dataAt : previousEnd, why)) return nullptr;
      previousEnd = rle->end();
      planes->rows.push_back(std::move(rle));
    } else if (p.compression == 0) {
      planes->rows.push_back(std::make_unique<RawRows>(file, l, p));
    } else {
      planes->rows.push_back(openPsdZipRows(file, l, p));
    }
  }
  return planes;
}

}  // namespace torvel
