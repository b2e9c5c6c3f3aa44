#include "engine/psdsections.h"

#include <cmath>
#include <cstring>

#include "engine/psd.h"

namespace torvel {

namespace {

void appendResource(std::vector<uint8_t>& out, uint16_t id, const std::vector<uint8_t>& data) {
  const size_t at = out.size();
  out.resize(at + 12);
  std::memcpy(&out[at], "8BIM", 4);
  putBigEndian16(&out[at + 4], id);  // then an empty name, padded: two zero bytes
  putBigEndian32(&out[at + 8], static_cast<uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() % 2) out.push_back(0);
}

// Resolution (ResolutionInfo, pixels per inch in 16.16) and ICC profile.
std::vector<uint8_t> imageResources(const ImageInfo& info) {
  std::vector<uint8_t> out;
  if (info.dpiX > 0 && info.dpiY > 0) {
    std::vector<uint8_t> r(16, 0);
    putBigEndian32(&r[0], static_cast<uint32_t>(std::lround(info.dpiX * 65536)));
    putBigEndian16(&r[4], 1);
    putBigEndian16(&r[6], 1);
    putBigEndian32(&r[8], static_cast<uint32_t>(std::lround(info.dpiY * 65536)));
    putBigEndian16(&r[12], 1);
    putBigEndian16(&r[14], 1);
    appendResource(out, 1005, r);
  }
  if (!info.icc.empty()) appendResource(out, 1039, std::vector<uint8_t>(info.icc.begin(), info.icc.end()));
  return out;
}

void append16(std::vector<uint8_t>& out, uint16_t v) {
  out.resize(out.size() + 2);
  putBigEndian16(&out[out.size() - 2], v);
}

void append32(std::vector<uint8_t>& out, uint32_t v) {
  out.resize(out.size() + 4);
  putBigEndian32(&out[out.size() - 4], v);
}

// Room for a length: its place.
int64_t reserveLength(std::vector<uint8_t>& out, bool large) {
  out.resize(out.size() + (large ? 8 : 4), 0);
  return static_cast<int64_t>(out.size()) - (large ? 8 : 4);
}

}  // namespace

std::vector<uint8_t> psdHead(const ImageInfo& i, bool large) {
  PsdHeader h{static_cast<uint16_t>(large ? 2 : 1), static_cast<uint16_t>(i.channels), i.height, i.width,
              static_cast<uint16_t>(i.bits), i.channels < 3 ? psdmode::grayscale : psdmode::rgb};
  std::vector<uint8_t> out(psdHeaderSize);
  encodePsdHeader(h, out.data());
  append32(out, 0);  // no colour mode data
  const std::vector<uint8_t> resources = imageResources(i);
  append32(out, static_cast<uint32_t>(resources.size()));
  out.insert(out.end(), resources.begin(), resources.end());
  return out;
}

PsdLayerRecord appendLayerRecord(std::vector<uint8_t>& out, const ImageInfo& i, bool large) {
  PsdLayerRecord r;
  r.sectionAt = reserveLength(out, large);
  r.infoAt = reserveLength(out, large);
  append16(out, 0xFFFF);  // -1: one layer, and the composite's last channel is its transparency
  for (uint32_t v : {0u, 0u, i.height, i.width}) append32(out, v);  // top, left, bottom, right
  append16(out, static_cast<uint16_t>(i.channels));
  for (int c = 0; c < i.channels; ++c) {
    append16(out, c == i.channels - 1 ? 0xFFFF : static_cast<uint16_t>(c));  // -1: transparency
    r.channelLengthAt.push_back(reserveLength(out, large));
  }
  const uint8_t blend[] = {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm', 255, 0, 0, 0};  // opacity, base, visible
  out.insert(out.end(), blend, blend + sizeof blend);
  const char name[] = "\7Layer 0";  // a Pascal string, padded to four bytes with its length
  append32(out, 4 + 4 + 8);
  append32(out, 0);  // no mask
  append32(out, 0);  // no blending ranges
  out.insert(out.end(), name, name + 8);
  return r;
}

void putPsdLength(ByteFile& file, int64_t at, int64_t length, bool large) {
  uint8_t b[8];
  if (large) {
    putBigEndian32(b, static_cast<uint32_t>(static_cast<uint64_t>(length) >> 32));
    putBigEndian32(b + 4, static_cast<uint32_t>(length));
  } else {
    putBigEndian32(b, static_cast<uint32_t>(length));
  }
  file.writeAt(at, b, large ? 8 : 4);
}

}  // namespace torvel
