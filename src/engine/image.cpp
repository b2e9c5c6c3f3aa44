#include "engine/image.h"

#include "engine/files.h"

namespace torvel {

namespace {

struct Extension {
  const char* lower;
  FileKind kind;
};

constexpr Extension inputExtensions[] = {
    {".tif", FileKind::Tiff}, {".tiff", FileKind::Tiff}, {".raw", FileKind::Raw},
    {".rgb", FileKind::Raw},  {".kro", FileKind::Kro},
};

}  // namespace

FileKind kindOfPath(const std::string& path) {
  const std::string ext = upperCase(extensionOf(path));
  for (const Extension& e : inputExtensions)
    if (ext == upperCase(e.lower)) return e.kind;
  return FileKind::None;
}

const char* kindText(FileKind kind) {
  switch (kind) {
    case FileKind::Kro:
      return "KRO";
    case FileKind::Raw:
      return "RAW";
    case FileKind::Tiff:
      return "TIF";
    case FileKind::None:
      break;
  }
  return "";
}

const char* outputExtension(FileKind kind, bool bigTiff) {
  switch (kind) {
    case FileKind::Kro:
      return ".kro";
    case FileKind::Raw:
      return ".raw";
    case FileKind::Tiff:
      return bigTiff ? ".big.tif" : ".tif";
    case FileKind::None:
      break;
  }
  return "";
}

std::string channelsText(const ImageInfo& info) {
  if (info.fileLayout.empty()) return std::to_string(info.channels);
  return std::to_string(info.fileChannels) + " " + info.fileLayout + ", read as " + std::to_string(info.channels);
}

std::string extensionPatterns(FileKind kind) {
  std::string out;
  for (const Extension& e : inputExtensions) {
    if (kind != FileKind::None && e.kind != kind) continue;
    if (!out.empty()) out += ' ';
    out += std::string("*") + e.lower;
  }
  return out;
}

}  // namespace torvel
