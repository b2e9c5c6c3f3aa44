#include "engine/reader.h"

#include <cstring>
#include <new>

#include "engine/bytefile.h"
#include "engine/files.h"
#include "engine/formatparts.h"

namespace torvel {

std::unique_ptr<uint8_t[]> allocateLine(uint64_t bytes) {
  // A line beyond 2 GiB is no image we can stream: memory we cannot have.
  if (bytes == 0 || bytes > 0x7FFFFFFFu) return nullptr;
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]);
}

void refuseProbe(ImageInfo& info, const std::string& text) { info.refusals.push_back(text); }

bool ImageReader::readRegion(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint8_t* out, size_t stride) {
  const size_t pixel = static_cast<size_t>(info_.bytesPerPixel());
  for (uint32_t r = 0; r < height; ++r) {
    const uint8_t* row = readRow(y + r);
    if (!row) return false;
    std::memcpy(out + r * stride, row + x * pixel, width * pixel);
  }
  return true;
}

std::string rowMemoryText(const ImageInfo& info) {
  return notEnoughMemoryFor("a row of " + std::to_string(info.width) + " pixels", info.lineBytes());
}

namespace {

// The kind the file's first bytes say, when it says one that its name does
// not: the content wins, and the note names both.
void followContent(ImageInfo& info, ByteFile& file) {
  uint8_t head[16] = {};
  const size_t got = file.readAt(0, head, sizeof head);
  const FileKind content = kindOfContent(head, got);
  if (content == FileKind::None || content == info.kind) return;
  info.notes.push_back(info.path + " holds a " + inputFormatOf(content)->label + " image, not what its name says (" +
                       inputFormatOf(info.kind)->label + "): it is read as " + inputFormatOf(content)->label);
  info.kind = content;
}

}  // namespace

ImageInfo probeImage(const std::string& path, const RawGeometry& raw) {
  ImageInfo info;
  info.path = path;
  info.kind = kindOfPath(path);
  if (info.kind == FileKind::None) return info;  // not ours: refused without a word
  info.fileSize = fileSize(path);
  ByteFile file;
  if (!file.openRead(path)) {
    // A FIFO, a device or a socket would block or never end: refused before any probe opens it.
    if (file.takeError() == ByteFile::notRegularFile) {
      refuseProbe(info, "Cannot read " + path + ": it is not a regular file");
      return info;
    }
  } else {
    followContent(info, file);
  }
  file.close();
  inputFormatOf(info.kind)->probe(info, raw);
  return info;
}

std::string refusalText(const ImageInfo& info) {
  if (info.needsGeometry && info.guess.width && info.guess.height)
    return "The size in the name of " + info.path + " does not match its " + std::to_string(info.fileSize) + " bytes";
  if (info.needsGeometry) return "The size of " + info.path + " is not in its name";
  std::string text;
  for (const std::string& r : info.refusals) text += (text.empty() ? "" : "; ") + r;
  return text.empty() ? info.path + " is not an image this program reads (it reads " + readableFormatsText() + ")" : text;
}

std::unique_ptr<ImageReader> openReader(const ImageInfo& info, std::string& why) {
  const InputFormat* format = inputFormatOf(info.kind);
  if (format) return format->open(info, why);
  why = "not an image file";
  return nullptr;
}

}  // namespace torvel
