// Headerless RAW files: interleaved 8- or 16-bit RGB whose size is in the
// file name ("_1000X800") or given by the user.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/files.h"
#include "engine/formats.h"
#include "engine/plainlines.h"
#include "engine/tilenames.h"

namespace torvel {

StoredRows::StoredRows(ByteFile& file, uint64_t lineBytes, uint32_t height, std::function<int64_t(uint32_t)> offsetOf)
    : file_(file), lineBytes_(lineBytes), height_(height), offsetOf_(std::move(offsetOf)) {}

bool StoredRows::allocate() {
  // About a MB of adjacent rows per read, however narrow they are.
  capacity_ = static_cast<uint32_t>(std::max<uint64_t>(1, (uint64_t{1} << 20) / lineBytes_));
  chunk_ = allocateLine(lineBytes_ * capacity_);
  return chunk_ != nullptr;
}

const uint8_t* StoredRows::row(uint32_t row, std::string& why) {
  if (row >= first_ && row - first_ < count_) return chunk_.get() + (row - first_) * lineBytes_;
  const int64_t start = offsetOf_(row);
  // Offsets come from the file: adjacent only where the sum does not overflow.
  uint32_t n = 1;
  int64_t next = 0;
  while (n < capacity_ && row + n < height_ &&
         !__builtin_add_overflow(start, static_cast<int64_t>(n * lineBytes_), &next) && offsetOf_(row + n) == next)
    ++n;
  const size_t want = static_cast<size_t>(n * lineBytes_);
  const size_t got = file_.readAt(start, chunk_.get(), want);
  count_ = 0;
  if (int e = file_.takeError()) {
    why = "row " + std::to_string(row) + ": " + systemErrorText(e);
    return nullptr;
  }
  // A short last line must never reach an output with stale bytes in it.
  if (got < lineBytes_) {
    why = "row " + std::to_string(row) + ": the file ends before the row does";
    return nullptr;
  }
  first_ = row;
  count_ = static_cast<uint32_t>(got / lineBytes_);
  return chunk_.get();
}

PlainLineReader::PlainLineReader(const ImageInfo& info, int64_t dataOffset)
    : ImageReader(info), offset_(dataOffset),
      rows_(file_, info.lineBytes(), info.height, [this](uint32_t row) { return storedRowOffset(row); }) {}

bool PlainLineReader::open(std::string& why) {
  if (!rows_.allocate()) {
    why = notEnoughMemory;
    return false;
  }
  if (!file_.openRead(info_.path)) {
    why = systemErrorText(file_.takeError());
    return false;
  }
  return true;
}

const uint8_t* PlainLineReader::readRow(uint32_t row) {
  std::string why;
  const uint8_t* line = rows_.row(row, why);
  return line ? line : fail(why);
}

int64_t PlainLineReader::storedRowOffset(uint32_t row) const {
  return offset_ + static_cast<int64_t>(row * info_.lineBytes());
}

bool PlainLineWriter::open(const uint8_t* header, size_t headerBytes, std::string& why) {
  if (!allocate()) {
    why = notEnoughMemory;
    return false;
  }
  const int fd = takeDescriptor();
  if (fd < 0) {
    why = systemErrorText(errno);
    return false;
  }
  file_.adopt(fd);
  // Small enough to come from the heap's reused memory: a split opens many.
  capacity_ = std::max<size_t>(120 * 1024, static_cast<size_t>(info().lineBytes()) + headerBytes);
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

bool PlainLineWriter::complete() {
  if (!flush()) return false;
  file_.close();
  if (int e = file_.takeError()) return fail(systemErrorText(e));
  return true;
}

void probeRaw(ImageInfo& info, Prompt* prompt, bool askUser) {
  int32_t nameWidth = 0, nameHeight = 0;
  parseTileSize(info.path, nameWidth, nameHeight);
  uint32_t w = nameWidth > 0 ? static_cast<uint32_t>(nameWidth) : 0;
  uint32_t h = nameHeight > 0 ? static_cast<uint32_t>(nameHeight) : 0;
  const int64_t pixels = static_cast<int64_t>(w) * h;  // below 2^62: both sides below 2^31
  if (pixels > INT64_MAX / 6)
    return refuseProbe(info, prompt,
                       "The size in the file name is too large: " + std::to_string(w) + " × " + std::to_string(h) +
                           " pixels cannot fit in a file",
                       true);
  int bits = 0;
  if (pixels * 3 == info.fileSize)
    bits = 8;
  else if (pixels * 6 == info.fileSize)
    bits = 16;
  if (bits == 0 && askUser) {
    if (!prompt || !prompt->askRawGeometry(info.fileSize, w, h, bits)) return;  // cancelled: silent
    if (bits != 8 && bits != 16) bits = 0;
  }
  if (w == 0 || h == 0 || bits == 0) {
    refuseProbe(info, prompt, "Invalid width, height or bits", false);
    return;
  }
  info.width = w;
  info.height = h;
  info.bits = bits;
  info.channels = 3;
  info.littleEndian = true;
  info.accepted = true;
}

std::unique_ptr<ImageReader> openRawReader(const ImageInfo& info, std::string& why) {
  auto r = std::make_unique<PlainLineReader>(info, 0);
  if (!r->open(why)) return nullptr;
  return r;
}

std::unique_ptr<ImageWriter> createRawWriter(const ImageInfo& info, std::unique_ptr<PartFile> part,
                                             std::string& why) {
  auto w = std::make_unique<PlainLineWriter>(info, std::move(part));
  if (!w->open(nullptr, 0, why)) return nullptr;
  return w;
}

}  // namespace torvel
