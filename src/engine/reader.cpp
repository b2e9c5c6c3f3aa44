#include "engine/reader.h"

#include <new>

#include "engine/bytefile.h"
#include "engine/files.h"
#include "engine/formats.h"

namespace torvel {

std::unique_ptr<uint8_t[]> allocateLine(uint64_t bytes) {
  // A line beyond 2 GiB is no image we can stream: memory we cannot have.
  if (bytes == 0 || bytes > 0x7FFFFFFFu) return nullptr;
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[bytes]);
}

void refuseProbe(ImageInfo& info, Prompt* prompt, const std::string& text, bool record) {
  if (prompt) prompt->message(text);
  if (record) info.refusal = text;
}

ImageInfo probeImage(const std::string& path, Prompt* prompt, bool askUser) {
  ImageInfo info;
  info.path = path;
  info.kind = kindOfPath(path);
  if (info.kind == FileKind::None) return info;  // not ours: refused without a word
  info.fileSize = fileSize(path);
  {
    // A FIFO, a device or a socket would block or never end: refused before any probe opens it.
    ByteFile file;
    if (!file.openRead(path) && file.takeError() == ByteFile::notRegularFile) {
      refuseProbe(info, prompt, "Cannot read " + path + ": it is not a regular file", true);
      return info;
    }
  }
  switch (info.kind) {
    case FileKind::Kro:
      probeKro(info, prompt);
      break;
    case FileKind::Tiff:
      probeTiff(info, prompt);
      break;
    case FileKind::Raw:
      probeRaw(info, prompt, askUser);
      break;
    case FileKind::None:
      break;
  }
  return info;
}

std::unique_ptr<ImageReader> openReader(const ImageInfo& info, std::string& why) {
  switch (info.kind) {
    case FileKind::Kro:
      return openKroReader(info, why);
    case FileKind::Raw:
      return openRawReader(info, why);
    case FileKind::Tiff:
      return openTiffReader(info, why);
    case FileKind::None:
      break;
  }
  why = "not an image file";
  return nullptr;
}

}  // namespace torvel
