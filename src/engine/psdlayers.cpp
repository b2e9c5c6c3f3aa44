// The layer section, read only as far as the composite needs: the layer
// count (negative when the composite's first extra channel is its
// transparency), and for a document of one layer, whether that layer is the
// image itself and where its planes are. Photoshop mattes a transparent
// composite against white, which loses colour where alpha is low; such a
// layer holds the pixels exactly.
#include <cstring>

#include "engine/psdlayout.h"

namespace torvel {

namespace {

// Reads through the section, never past its end.
struct SectionCursor {
  ByteFile& file;
  int64_t at, end;
  bool ok = true;

  const uint8_t* take(size_t n) {
    if (!ok || n > sizeof buffer || end - at < static_cast<int64_t>(n) || file.readAt(at, buffer, n) != n) {
      ok = false;
      std::memset(buffer, 0, sizeof buffer);
    }
    at += static_cast<int64_t>(n);
    return buffer;
  }
  uint64_t length(bool wide) {
    const uint8_t* p = take(wide ? 8 : 4);
    return wide ? uint64_t{bigEndian32(p)} << 32 | bigEndian32(p + 4) : bigEndian32(p);
  }
  uint8_t buffer[16];
};

struct LayerChannel {
  int16_t id;
  uint64_t length;  // its compression field and data
};

// Additional layer information that changes what the layer shows: effects,
// fills, vector masks, groups, adjustments, fill opacity.
bool changesPixels(const char key[4]) {
  static const char* const keys[] = {"lrFX", "lfx2", "lmfx", "SoCo", "GdFl", "PtFl", "vmsk", "vsms", "lsct", "lsdk",
                                     "levl", "curv", "brit", "blnc", "hue2", "hue ", "selc", "mixr", "grdm", "phfl",
                                     "expA", "vibA", "clrL", "thrs", "post", "nvrt", "blwh"};
  for (const char* k : keys)
    if (std::memcmp(k, key, 4) == 0) return true;
  return false;
}

// Whether the extra data of a layer record (from `at` to `end`) leaves its pixels as they are.
bool plainExtraData(SectionCursor c) {
  if (c.length(false) != 0) return false;  // a layer mask
  c.at += static_cast<int64_t>(c.length(false));  // blending ranges
  c.at += (c.take(1)[0] + 4) & ~3;           // the name, padded to four with its length byte
  c.at -= 1;
  while (c.ok && c.end - c.at >= 12) {
    const uint8_t* p = c.take(8);
    if (std::memcmp(p, "8BIM", 4) != 0 && std::memcmp(p, "8B64", 4) != 0) return false;
    char key[4];
    std::memcpy(key, p + 4, 4);
    if (changesPixels(key)) return false;
    const uint64_t n = c.length(false);
    if (std::memcmp(key, "iOpa", 4) == 0 && c.take(1)[0] != 255) return false;  // fill opacity
    c.at = c.at - (std::memcmp(key, "iOpa", 4) == 0) + static_cast<int64_t>((n + 1) & ~uint64_t{1});
  }
  return c.ok;
}

// The planes of the one layer when it is plain and covers the canvas.
void takeLayerPlanes(SectionCursor& c, PsdLayout& l) {
  const uint8_t* rect = c.take(16);
  const bool canvas = bigEndian32(rect) == 0 && bigEndian32(rect + 4) == 0 && bigEndian32(rect + 8) == l.header.height &&
                      bigEndian32(rect + 12) == l.header.width;
  const uint16_t count = bigEndian16(c.take(2));
  std::vector<LayerChannel> channels;
  for (uint16_t i = 0; i < count && c.ok; ++i) {
    const int16_t id = static_cast<int16_t>(bigEndian16(c.take(2)));
    channels.push_back({id, c.length(l.header.large())});
  }
  const uint8_t* blend = c.take(12);
  // Normal, opaque, not clipped, visible (flag 2 hides), its pixels shown (flags 8 and 16 say they are not).
  const bool normal = std::memcmp(blend, "8BIMnorm", 8) == 0 && blend[8] == 255 && blend[9] == 0 &&
                      !(blend[10] & 2) && (blend[10] & 0x18) != 0x18;
  const uint64_t extra = c.length(false);
  if (!c.ok || extra > static_cast<uint64_t>(c.end - c.at)) return void(c.ok = false);
  const bool plain = plainExtraData({c.file, c.at, c.at + static_cast<int64_t>(extra)});
  c.at += static_cast<int64_t>(extra);
  const int colours = l.header.mode == psdmode::grayscale ? 1 : l.header.mode == psdmode::rgb ? 3 : 0;
  std::vector<PsdPlane> planes(static_cast<size_t>(colours) + 1);
  int found = 0;
  bool alpha = false;
  for (const LayerChannel& ch : channels) {
    if (ch.length < 2 || ch.length > static_cast<uint64_t>(c.end - c.at)) return void(c.ok = false);
    const uint16_t compression = bigEndian16(c.take(2));
    const int64_t data = c.at, end = c.at + static_cast<int64_t>(ch.length) - 2;
    c.at = end;
    if (ch.id < -1 || ch.id >= colours) return;  // masks and extra channels: the composite says more
    PsdPlane& p = planes[static_cast<size_t>(ch.id < 0 ? colours : ch.id)];
    p = {compression, data, compression == 1 ? data + int64_t{l.header.height} * (l.header.large() ? 4 : 2) : data, end, 0};
    found += ch.id >= 0;
    alpha = alpha || ch.id == -1;
  }
  if (!canvas || !normal || !plain || found != colours || colours == 0) return;
  if (!alpha) planes.pop_back();
  l.layerPlanes = planes;
}

// Blocks whose length is eight bytes in a PSB.
bool wideKey(const uint8_t* key) {
  static const char* const keys[] = {"LMsk", "Lr16", "Lr32", "Layr", "Mt16", "Mt32", "Mtrn", "Alph", "FMsk", "lnk2",
                                     "FEid", "FXid", "PxSD"};
  for (const char* k : keys)
    if (std::memcmp(k, key, 4) == 0) return true;
  return false;
}

bool readLayerInfo(SectionCursor c, PsdLayout& l) {
  l.layerCount = static_cast<int16_t>(bigEndian16(c.take(2)));
  if (l.layerCount == 1 || l.layerCount == -1) takeLayerPlanes(c, l);
  if (!c.ok) l.layerPlanes.clear();
  return c.ok;
}

}  // namespace

// The layer info, then the global mask, then tagged blocks: 16- and 32-bit
// documents keep their layers in one of these, and a block can say the
// composite is transparent.
bool readPsdLayers(ByteFile& file, int64_t at, int64_t end, PsdLayout& l) {
  if (at == end) return true;
  const bool large = l.header.large();
  SectionCursor c{file, at, end};
  const uint64_t length = c.length(large);
  if (!c.ok || length > static_cast<uint64_t>(end - c.at)) return false;
  if (length > 0 && !readLayerInfo({file, c.at, c.at + static_cast<int64_t>(length)}, l)) return false;
  c.at += static_cast<int64_t>(length);
  if (c.end - c.at < 4) return true;
  c.at += static_cast<int64_t>(c.length(false));
  while (c.ok && c.end - c.at >= 12) {
    const uint8_t* p = c.take(8);
    if (std::memcmp(p, "8BIM", 4) != 0 && std::memcmp(p, "8B64", 4) != 0) break;
    uint8_t key[4];
    std::memcpy(key, p + 4, 4);
    const uint64_t n = c.length(large && wideKey(key));
    if (!c.ok || n > static_cast<uint64_t>(c.end - c.at)) break;
    const bool layers = std::memcmp(key, "Lr16", 4) == 0 || std::memcmp(key, "Lr32", 4) == 0 || std::memcmp(key, "Layr", 4) == 0;
    if (layers && length == 0 && !readLayerInfo({file, c.at, c.at + static_cast<int64_t>(n)}, l)) return false;
    if (std::memcmp(key, "Mtrn", 4) == 0 || std::memcmp(key, "Mt16", 4) == 0 || std::memcmp(key, "Mt32", 4) == 0)
      l.transparentComposite = true;
    c.at += static_cast<int64_t>((n + 1) & ~uint64_t{1});
  }
  return true;
}

}  // namespace torvel
