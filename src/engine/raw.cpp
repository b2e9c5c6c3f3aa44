// Headerless RAW files: interleaved 8- or 16-bit RGB whose size is in the
// file name ("_1000X800") or given by the user.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/files.h"
#include "engine/formatparts.h"
#include "engine/plainlines.h"
#include "engine/tilenames.h"

namespace torvel {

bool PlainLineWriter::open(const uint8_t* header, size_t headerBytes, std::string& why) {
  if (!allocate()) {
    why = rowMemoryText(info());
    return false;
  }
  const int fd = takeDescriptor();
  if (fd < 0) {
    why = systemErrorText(errno);
    return false;
  }
  file_.adopt(fd);
  // Eight rows, so that a wide image goes out in writes of about a MB (each
  // system call costs, more so in a virtual machine); at least 120 kB and at
  // most a MB or a row, so that the dozens of narrow tiles a split keeps open
  // stay small.
  const size_t line = static_cast<size_t>(info().lineBytes());
  capacity_ = std::max(std::clamp<size_t>(8 * line, 120 * 1024, 1 << 20), line) + headerBytes;
  buffer_.reset(new uint8_t[capacity_]);
  if (headerBytes) std::memcpy(buffer_.get(), header, headerBytes);
  used_ = headerBytes;
  return true;
}

bool PlainLineWriter::flush() {
  file_.write(buffer_.get(), used_);
  used_ = 0;
  if (int e = file_.takeError()) return fail(systemErrorText(e));
  return true;
}

uint8_t* PlainLineWriter::rowBuffer() {
  // A failed flush shows at this row's write.
  if (used_ + info().lineBytes() > capacity_ && !flush()) used_ = 0;
  return buffer_.get() + used_;
}

bool PlainLineWriter::putRow(const uint8_t* line) {
  if (!error().empty()) return false;  // the flush that made room failed
  const size_t bytes = static_cast<size_t>(info().lineBytes());
  if (line != buffer_.get() + used_) {  // made elsewhere: no room was taken for it
    if (used_ + bytes > capacity_ && !flush()) return false;
    std::memcpy(buffer_.get() + used_, line, bytes);
  }
  used_ += bytes;
  return true;
}

bool PlainLineWriter::putRows(const uint8_t* first, size_t stride, uint32_t count) {
  const size_t bytes = static_cast<size_t>(info().lineBytes());
  if (count * bytes < directRowsBytes) return ImageWriter::putRows(first, stride, count);
  if (!error().empty() || !flush()) return false;
  file_.writeSpaced(first, stride, bytes, count);
  if (int e = file_.takeError()) return fail(systemErrorText(e));
  return true;
}

bool PlainLineWriter::complete() {
  if (!flush()) return false;
  file_.close();
  if (int e = file_.takeError()) return fail(systemErrorText(e));
  return true;
}

namespace {

// Bytes of a RAW image of this geometry; beyond any file when it overflows.
int64_t rawBytes(const RawGeometry& g) {
  const unsigned __int128 bytes = static_cast<unsigned __int128>(g.width) * g.height * (g.bits == 16 ? 6 : 3);
  return bytes > static_cast<unsigned __int128>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(bytes);
}

std::string geometryText(const RawGeometry& g) {
  return std::to_string(g.width) + " × " + std::to_string(g.height) + (g.bits ? " at " + std::to_string(g.bits) + " bits" : "");
}

// The size in the name, with the bits that make it fill the file (0 when none do).
RawGeometry namedGeometry(const ImageInfo& info) {
  int32_t width = 0, height = 0;
  parseTileSize(info.path, width, height);
  RawGeometry g{width > 0 ? static_cast<uint32_t>(width) : 0, height > 0 ? static_cast<uint32_t>(height) : 0, 0};
  for (int bits : {8, 16})
    if (g.width && g.height && rawBytes({g.width, g.height, bits}) == info.fileSize) g.bits = bits;
  return g;
}

// The given geometry, its bits taken from the file size when not given.
RawGeometry completed(RawGeometry g, int64_t fileSize) {
  if (g.bits == 0) g.bits = rawBytes({g.width, g.height, 16}) == fileSize ? 16 : 8;
  return g;
}

}  // namespace

void probeRaw(ImageInfo& info, const RawGeometry& raw) {
  const RawGeometry named = namedGeometry(info);
  if (rawBytes({named.width, named.height, 16}) == INT64_MAX)
    return refuseProbe(info, "The size in the file name is too large: " + geometryText(named) +
                                 " pixels cannot fit in a file");
  RawGeometry g = named;
  if (raw.given() && named.bits) {
    // Only what was given is compared: --bits alone keeps the name's size.
    RawGeometry given = raw.width ? raw : RawGeometry{named.width, named.height, raw.bits};
    if (!given.bits) given.bits = named.bits;
    if (given.width != named.width || given.height != named.height || given.bits != named.bits)
      return refuseProbe(info, "The size given, " + geometryText(given) + ", does not agree with the size in the file name, " +
                                   geometryText(named));
  } else if (raw.given()) {
    g = completed(raw, info.fileSize);
    if (rawBytes(g) == INT64_MAX)
      return refuseProbe(info, "The size given, " + geometryText(g) + ", is too large: that many pixels cannot fit in a file");
  } else if (!named.bits) {
    info.needsGeometry = true;  // the front end asks, then probes again
    info.guess = named;
    return;
  }
  if (g.width == 0 || g.height == 0 || (g.bits != 8 && g.bits != 16))
    return refuseProbe(info, "Invalid width, height or bits");
  if (rawBytes(g) != info.fileSize)
    return refuseProbe(info, "The RAW file holds " + std::to_string(info.fileSize) + " bytes, not the " +
                                 std::to_string(rawBytes(g)) + " of " + geometryText(g));
  info.width = g.width;
  info.height = g.height;
  info.bits = g.bits;
  info.channels = 3;
  info.littleEndian = true;
  info.accepted = true;
}

std::unique_ptr<ImageReader> openRawReader(const ImageInfo& info, std::string& why) {
  auto r = std::make_unique<PlainLineReader>(info, 0);
  if (!r->open(why)) return nullptr;
  return r;
}

std::unique_ptr<ImageWriter> createRawOutput(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                             std::string& why) {
  auto w = std::make_unique<PlainLineWriter>(setup.info, std::move(part));
  if (!w->open(nullptr, 0, why)) return nullptr;
  return w;
}

}  // namespace torvel
