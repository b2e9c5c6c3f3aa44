// Any bytes as an input of any kind (TIFF, KRO, RAW, PSD, PSB, PNG, JPEG;
// the kind the content says wins over the name): probed, opened and read row by row
// as an operation would. Nothing may crash, hang or touch memory it does not
// own; a damaged file is refused or fails a read with a reason.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/bytefile.h"
#include "engine/reader.h"

namespace {

std::string scratchFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/torvel-fuzz-XXXXXX";
  if (!mkdtemp(dir.data())) std::abort();
  return dir + "/";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = scratchFolder();
  if (size < 1) return 0;
  // The first byte picks the kind; a RAW's name gives the size of the rest.
  const char* names[] = {"in.tif", "in.kro", "in_8X4.raw", "in.psd", "in.psb", "in.png", "in.jpg"};
  const std::string path = dir + names[data[0] % 7];
  {
    torvel::ByteFile file;
    ::unlink(path.c_str());
    if (!file.createNew(path)) return 0;
    file.writeAt(0, data + 1, size - 1);
    file.close();
  }
  const torvel::ImageInfo info = torvel::probeImage(path);
  // Small images only: the point is the parsing, not the pixel count.
  if (!info.accepted || uint64_t{info.width} * info.height > (uint64_t{1} << 22)) return 0;
  std::string why;
  std::unique_ptr<torvel::ImageReader> reader = torvel::openReader(info, why);
  for (uint32_t row = 0; reader && row < info.height; ++row)
    if (!reader->readRow(row)) break;
  return 0;
}
