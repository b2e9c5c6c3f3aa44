// Photoshop inputs (PSD and PSB): the flattened composite, or the layer of a
// document that is one plain layer, read a row at a time from its planes.
// RGB, Grayscale and Indexed images of 8 or 16 bits are read (gray and
// palettes as RGB, exactly); other modes, 32-bit images and files saved
// without a real composite are refused with the reason.
#include <algorithm>

#include "engine/bytefile.h"
#include "engine/files.h"
#include "engine/formatparts.h"
#include "engine/psdlayout.h"

namespace torvel {

namespace {

// The planes read (a single plain layer's, else the composite's), and the channels of our line.
void choosePlanes(PsdLayout& l, ImageInfo& info) {
  const uint16_t mode = l.header.mode, channels = l.header.channels;
  int count = 1;
  if (mode == psdmode::rgb) count = channels >= 4 ? 4 : 3;
  if (mode == psdmode::grayscale) count = channels >= 2 ? 2 : 1;
  choosePsdPlanes(l, count);
  const int used = static_cast<int>(l.planes.size());
  info.channels = used == 4 || used == 2 ? 4 : 3;
  info.gray = mode == psdmode::grayscale;
  if (info.gray) info.fileLayout = used == 2 ? "gray + alpha" : "gray";
  if (mode == psdmode::indexed) info.fileLayout = "palette";
  info.fileChannels = used;
  if (l.fromLayer) info.storage = "one layer";
}

// Photoshop's transparent composite is matted against white: undone as its
// other readers do, where there is no layer that holds the pixels exactly.
template <typename Sample>
void unmatte(Sample* line, size_t width, uint32_t max) {
  for (size_t x = 0; x < width; ++x) {
    Sample* p = line + x * 4;
    const uint32_t a = p[3];
    if (a == 0 || a == max) continue;
    for (int c = 0; c < 3; ++c) {
      const uint64_t v = p[c] > max - a ? uint64_t{p[c] - (max - a)} * max : 0;
      p[c] = static_cast<Sample>(std::min<uint64_t>((v + a / 2) / a, max));
    }
  }
}

const char* compressionText(uint16_t compression) {
  switch (compression) {
    case 0:
      return "none";
    case 1:
      return "RLE";
    case 2:
      return "ZIP";
    case 3:
      return "ZIP with prediction";
  }
  return "unknown";
}

// Why the composite cannot be read; empty when it can.
std::string psdRefusal(const PsdLayout& l, const std::string& path) {
  const PsdHeader& h = l.header;
  if (h.depth == 32) return "32-bit (floating-point) Photoshop images are not read: save it with 16 bits first";
  if (h.mode != psdmode::rgb && h.mode != psdmode::grayscale && h.mode != psdmode::indexed)
    return "The Photoshop file's colour mode is " + psdModeText(h.mode) +
           ": only RGB, Grayscale and Indexed images are read; convert it to RGB first";
  if (h.depth != 8 && h.depth != 16) return "The image must be 8 or 16 bits";
  if (h.channels > 56) return "The Photoshop file has more channels than Photoshop allows (56)";
  if ((h.mode == psdmode::rgb && h.channels < 3) || h.channels == 0)
    return "The Photoshop file has fewer channels than its colour mode needs";
  if (h.mode == psdmode::indexed && (h.depth != 8 || l.palette.size() != 768))
    return "The Photoshop file is indexed without an 8-bit colour table";
  if (l.compression > 3) return "The compression of this Photoshop file is not read (scheme " + std::to_string(l.compression) + ")";
  if (!l.merged)
    return path + " was saved without a composite image (\"Maximize Compatibility\" off): its composite is empty. "
                  "Save it again with Maximize Compatibility on";
  if (h.width == 0 || h.height == 0) return "Height or Width = 0";
  return {};
}

class PsdReader : public ImageReader {
 public:
  explicit PsdReader(const ImageInfo& info) : ImageReader(info) {}

  bool open(std::string& why) {
    if (!file_.openRead(info_.path) || !readPsdLayout(file_, info_.fileSize, layout_, why)) {
      if (why.empty()) why = systemErrorText(file_.takeError());
      return false;
    }
    ImageInfo check;
    choosePlanes(layout_, check);
    planes_ = openPsdPlanes(file_, info_.fileSize, layout_, why);
    if (!planes_) return false;
    rows_.resize(layout_.planes.size() * layout_.rowBytes());
    matted_ = !layout_.fromLayer && layout_.mergedAlpha() && info_.channels == 4;
    if (!(line_ = allocateLine(info_.lineBytes()))) why = rowMemoryText(info_);
    return line_ != nullptr;
  }

  const uint8_t* readRow(uint32_t row) override {
    const size_t rowBytes = static_cast<size_t>(layout_.rowBytes());
    for (int p = 0; p < static_cast<int>(layout_.planes.size()); ++p) {
      std::string why;
      if (!planes_->read(p, row, rows_.data() + p * rowBytes, why)) return fail("row " + std::to_string(row) + ": " + why);
    }
    interleave();
    if (matted_ && info_.bits == 8) unmatte(line_.get(), info_.width, 255);
    if (matted_ && info_.bits == 16) unmatte(reinterpret_cast<uint16_t*>(line_.get()), info_.width, 65535);
    return line_.get();
  }

 private:
  // The planes' big-endian samples into our line; gray and palettes as RGB.
  void interleave() {
    const size_t width = layout_.header.width, bps = layout_.header.depth / 8, rowBytes = width * bps;
    const int out = info_.channels;
    const bool palette = layout_.header.mode == psdmode::indexed, gray = info_.gray;
    for (size_t x = 0; x < width; ++x) {
      for (int c = 0; c < out; ++c) {
        const int plane = gray ? (c == 3 ? 1 : 0) : palette ? 0 : c;
        const uint8_t* s = rows_.data() + plane * rowBytes + x * bps;
        uint8_t* d = line_.get() + (x * out + c) * bps;
        if (palette)
          *d = layout_.palette[size_t(c) * 256 + *s];
        else if (bps == 1)
          *d = *s;
        else
          d[0] = s[1], d[1] = s[0];  // big-endian to the host's order
      }
    }
  }

  ByteFile file_;
  PsdLayout layout_;
  std::unique_ptr<PsdPlanes> planes_;
  std::vector<uint8_t> rows_;
  std::unique_ptr<uint8_t[]> line_;
  bool matted_ = false;
};

}  // namespace

void probePsd(ImageInfo& info) {
  ByteFile file;
  PsdLayout l;
  std::string why;
  if (!file.openRead(info.path)) return refuseProbe(info, withReason("Cannot read " + info.path, systemErrorText(file.takeError())));
  if (!readPsdLayout(file, info.fileSize, l, why))
    return refuseProbe(info, withReason("The Photoshop file is damaged or truncated", why));
  info.width = l.header.width;
  info.height = l.header.height;
  info.bits = l.header.depth;
  info.format = l.header.large() ? "PSB" : "PSD";
  info.mode = psdModeText(l.header.mode);
  info.codec = compressionText(l.compression);
  info.storage = "planes";
  info.composite = l.merged;
  info.dpiX = l.dpiX;
  info.dpiY = l.dpiY;
  info.icc = l.icc;
  if (std::string refusal = psdRefusal(l, info.path); !refusal.empty()) return refuseProbe(info, refusal);
  choosePlanes(l, info);
  // The composite must be whole even where the layer is read: a cut file is damaged.
  if (!openPsdPlanes(file, info.fileSize, l, why) || !psdCompositeFits(file, info.fileSize, l, why))
    return refuseProbe(info, withReason("The Photoshop file is damaged or truncated", why));
  info.accepted = true;
}

std::unique_ptr<ImageReader> openPsdReader(const ImageInfo& info, std::string& why) {
  auto r = std::make_unique<PsdReader>(info);
  if (!r->open(why)) return nullptr;
  return r;
}

}  // namespace torvel
