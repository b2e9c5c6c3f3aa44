// Headerless RAW files: interleaved 8- or 16-bit RGB whose size is in the
// file name ("_1000X800") or given by the user.
#include "engine/files.h"
#include "engine/formats.h"
#include "engine/plainlines.h"
#include "engine/tilenames.h"

namespace torvel {

bool PlainLineReader::open(std::string& why) {
  line_ = allocateLine(info_.lineBytes());
  if (!line_) {
    why = notEnoughMemory;
    return false;
  }
  if (!file_.openRead(info_.path) || !file_.seek(offset_)) {
    why = systemErrorText(file_.takeError());
    return false;
  }
  return true;
}

const uint8_t* PlainLineReader::readRow(uint32_t row) {
  const size_t bytes = static_cast<size_t>(info_.lineBytes());
  const size_t got = file_.read(line_.get(), bytes);
  if (int e = file_.takeError()) return fail("row " + std::to_string(row) + ": " + systemErrorText(e));
  // A short last line must never reach an output with stale bytes in it.
  if (got != bytes) return fail("row " + std::to_string(row) + ": the file ends before the row does");
  return line_.get();
}

bool PlainLineWriter::open(const uint8_t* header, size_t headerBytes, std::string& why) {
  if (!allocate()) {
    why = notEnoughMemory;
    return false;
  }
  if (!file_.create(writePath())) {
    why = systemErrorText(file_.takeError());
    return false;
  }
  if (headerBytes > 0) file_.write(header, headerBytes);
  return true;
}

bool PlainLineWriter::putRow(const uint8_t* line) {
  const size_t bytes = static_cast<size_t>(info().lineBytes());
  const size_t put = file_.write(line, bytes);
  if (int e = file_.takeError()) return fail(systemErrorText(e));
  return put == bytes || fail("short write");
}

bool PlainLineWriter::complete() {
  file_.close();
  if (int e = file_.takeError()) return fail(systemErrorText(e));
  return true;
}

void probeRaw(ImageInfo& info, Prompt* prompt, bool askUser) {
  int32_t nameWidth = 0, nameHeight = 0;
  parseTileSize(info.path, nameWidth, nameHeight);
  uint32_t w = nameWidth > 0 ? static_cast<uint32_t>(nameWidth) : 0;
  uint32_t h = nameHeight > 0 ? static_cast<uint32_t>(nameHeight) : 0;
  const int64_t pixels = static_cast<int64_t>(w) * h;
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

std::unique_ptr<ImageWriter> createRawWriter(const ImageInfo& info, const std::string& path, std::string& why) {
  auto w = std::make_unique<PlainLineWriter>(info, path);
  if (!w->open(nullptr, 0, why)) return nullptr;
  return w;
}

}  // namespace torvel
