// KRO files: a 20-byte header, then lines of four channels, 16-bit samples
// big-endian.
#include "engine/kro.h"

#include <cstring>

#include "engine/files.h"
#include "engine/formatparts.h"
#include "engine/plainlines.h"

namespace torvel {

namespace {

// The header fields are big-endian; we run on little-endian processors only.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "KRO header code assumes a little-endian host");

void put32(uint8_t* at, uint32_t v) {
  v = swapBytes32(v);
  std::memcpy(at, &v, 4);
}

uint32_t get32(const uint8_t* at) {
  uint32_t v;
  std::memcpy(&v, at, 4);
  return swapBytes32(v);
}


}  // namespace

void encodeKroHeader(const KroHeader& header, uint8_t out[kroHeaderSize]) {
  out[0] = 'K';
  out[1] = 'R';
  out[2] = 'O';
  out[3] = 1;
  put32(out + 4, header.width);
  put32(out + 8, header.height);
  put32(out + 12, header.bits);
  put32(out + 16, header.channels);
}

bool decodeKroHeader(const uint8_t in[kroHeaderSize], KroHeader& header) {
  if (in[0] != 'K' || in[1] != 'R' || in[2] != 'O' || in[3] != 1) return false;
  header.width = get32(in + 4);
  header.height = get32(in + 8);
  header.bits = get32(in + 12);
  header.channels = get32(in + 16);
  return true;
}

void probeKro(ImageInfo& info) {
  uint8_t raw[kroHeaderSize] = {};
  size_t got = 0;
  {
    ByteFile file;
    if (file.openRead(info.path)) got = file.read(raw, sizeof raw);
  }
  KroHeader header;
  if (got < kroHeaderSize || !decodeKroHeader(raw, header)) return refuseProbe(info, "KRO Header error");
  if (header.bits != 8 && header.bits != 16) return refuseProbe(info, "The image must be 8 or 16 bits");
  info.bits = static_cast<int>(header.bits);
  if (header.channels != 4) return refuseProbe(info, "The number of color channels must be 4");
  info.channels = 4;
  if (header.height == 0 || header.width == 0) return refuseProbe(info, "Height or Width = 0");
  // The pixels the header promises must be in the file: a lying header
  // would otherwise size buffers and pictures after it.
  const unsigned __int128 promised =
      static_cast<unsigned __int128>(header.width) * header.height * (header.bits / 2) + kroHeaderSize;
  if (promised > static_cast<unsigned __int128>(info.fileSize))
    return refuseProbe(info, "The KRO file is truncated: its header promises " + std::to_string(header.width) + " × " +
                                 std::to_string(header.height) + " pixels, more than its " +
                                 std::to_string(info.fileSize) + " bytes hold");
  info.width = header.width;
  info.height = header.height;
  info.littleEndian = false;
  info.accepted = true;
}

std::unique_ptr<ImageReader> openKroReader(const ImageInfo& info, std::string& why) {
  auto r = std::make_unique<PlainLineReader>(info, static_cast<int64_t>(kroHeaderSize));
  if (!r->open(why)) return nullptr;
  return r;
}

std::unique_ptr<ImageWriter> createKroOutput(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                             std::string& why) {
  const ImageInfo& info = setup.info;
  uint8_t header[kroHeaderSize];
  encodeKroHeader({info.width, info.height, static_cast<uint32_t>(info.bits), 4}, header);
  auto w = std::make_unique<PlainLineWriter>(info, std::move(part));
  if (!w->open(header, sizeof header, why)) return nullptr;
  return w;
}

}  // namespace torvel
