#include "resize/rawblock.h"

#include <cstring>

#include "engine/bytefile.h"
#include "engine/files.h"

namespace torvel {

namespace {

// Large transfers go in pieces the kernel handles well.
constexpr size_t chunk = size_t{8} << 20;

[[noreturn]] void fileError(const char* action, const std::string& path, int error) {
  throw ImagingError(std::string(action) + " file \"" + path + "\". " + systemErrorText(error));
}

}  // namespace

PixelBlock readRawBlock(const std::string& path, int32_t width, int32_t height, PixelFormat format) {
  if (path.empty()) throw ImagingError("Assertion failure");
  ByteFile file;
  if (!file.openRead(path)) fileError("Cannot open", path, file.takeError());
  PixelBlock block = PixelBlock::forOverwrite(width, height, format);
  const size_t total = static_cast<size_t>(block.bytes());
  size_t done = 0;
  while (done < total) {
    const size_t want = std::min(chunk, total - done);
    const size_t got = file.readAt(static_cast<int64_t>(done), block.data() + done, want);
    if (int e = file.takeError()) fileError("Cannot read", path, e);
    done += got;
    if (got < want) break;
  }
  std::memset(block.data() + done, 0, total - done);
  return block;
}

void writeRawBlock(const std::string& path, const PixelBlock& block) {
  if (path.empty()) throw ImagingError("Assertion failure");
  ByteFile file;
  if (!file.createNew(path)) fileError("Cannot create", path, file.takeError());
  const size_t total = static_cast<size_t>(block.bytes());
  for (size_t done = 0; done < total; done += chunk) {
    file.write(block.data() + done, std::min(chunk, total - done));
    if (int e = file.takeError()) fileError("Cannot write", path, e);
  }
  file.close();
  if (int e = file.takeError()) fileError("Cannot write", path, e);
}

}  // namespace torvel
