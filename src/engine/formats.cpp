#include "engine/formats.h"

#include <cstring>

#include "engine/files.h"
#include "engine/formatparts.h"
#include "engine/text.h"

namespace torvel {

namespace {

bool startsWith(const uint8_t* head, size_t size, const char* magic, size_t n) {
  return size >= n && std::memcmp(head, magic, n) == 0;
}

bool isTiff(const uint8_t* h, size_t n) {
  return startsWith(h, n, "II*\0", 4) || startsWith(h, n, "MM\0*", 4) || startsWith(h, n, "II+\0", 4) ||
         startsWith(h, n, "MM\0+", 4);
}
bool isKro(const uint8_t* h, size_t n) { return startsWith(h, n, "KRO", 3); }
bool isPsd(const uint8_t* h, size_t n) { return startsWith(h, n, "8BPS", 4); }
bool isPng(const uint8_t* h, size_t n) { return startsWith(h, n, "\x89PNG\r\n\x1a\n", 8); }
bool isJpeg(const uint8_t* h, size_t n) { return startsWith(h, n, "\xFF\xD8\xFF", 3); }

void probeTiffKind(ImageInfo& info, const RawGeometry&) { probeTiff(info); }
void probeKroKind(ImageInfo& info, const RawGeometry&) { probeKro(info); }
void probePsdKind(ImageInfo& info, const RawGeometry&) { probePsd(info); }
void probePngKind(ImageInfo& info, const RawGeometry&) { probePng(info); }
void probeJpegKind(ImageInfo& info, const RawGeometry&) { probeJpeg(info); }

const std::vector<InputFormat> inputTable = {
    {FileKind::Tiff, "TIF", "TIFF", "*.tif *.tiff", isTiff, probeTiffKind, openTiffReader},
    {FileKind::Raw, "RAW", "RAW", "*.raw *.rgb", nullptr, probeRaw, openRawReader},
    {FileKind::Kro, "KRO", "KRO", "*.kro", isKro, probeKroKind, openKroReader},
    {FileKind::Psd, "PSD", "Photoshop", "*.psd *.psb", isPsd, probePsdKind, openPsdReader},
    {FileKind::Png, "PNG", "PNG", "*.png", isPng, probePngKind, openPngReader},
    {FileKind::Jpeg, "JPG", "JPEG", "*.jpg *.jpeg", isJpeg, probeJpegKind, openJpegReader},
};

constexpr uint32_t tiffOptions = optCompress | optLevel | optQuality | optLossless | optSubsampling | optPredictor |
                                 optTiles | optRowsPerStrip | optPyramid;
constexpr uint32_t anySide = 0xFFFFFFFFu;

OutputFormat lzwTiff() {
  OutputFormat f{FileKind::Tiff, true};
  f.codec = Codec::Lzw;
  f.predictor = false;
  f.rowsPerStrip = 1;
  return f;
}

OutputFormat photoshop(bool psd) {
  OutputFormat f{FileKind::Psd};
  f.psd = psd;
  return f;
}

const std::vector<OutputKind> outputTable = {
    {"tif", "TIFF", "TIFF; uncompressed, one row per strip, unless options say otherwise", {FileKind::Tiff},
     tiffOptions, true, true, true, anySide, createTiffOutput},
    {"tif-lzw", "TIFF (LZW)", "TIFF, LZW without predictor, one row per strip (tif --compress lzw ...)", lzwTiff(),
     tiffOptions, true, true, true, anySide, createTiffOutput},
    {"raw", "RAW", "headerless RGB, the size in the name", {FileKind::Raw}, 0, false, false, true, anySide,
     createRawOutput},
    {"kro", "KRO", "KRO: RGBA with a 20-byte header", {FileKind::Kro}, 0, true, false, true, anySide, createKroOutput},
    {"png", "PNG", "PNG, 8 or 16 bits, alpha kept", {FileKind::Png}, optLevel, true, true, true, 0x7FFFFFFFu,
     createPngOutput},
    {"jpg", "JPEG", "JPEG, 8 bits, at most 65500 pixels a side", {FileKind::Jpeg}, optQuality | optSubsampling, false,
     true, false, 65500, createJpegOutput},
    {"psb", "PSB", "Photoshop large document (PSB), RLE, at most 300000 pixels a side", photoshop(false), 0, true,
     true, true, 300000, createPsdOutput},
    {"psd", "PSD", "Photoshop document (PSD), RLE, at most 30000 pixels a side", photoshop(true), 0, true, true,
     true, 30000, createPsdOutput},
};

}  // namespace

const std::vector<InputFormat>& inputFormats() { return inputTable; }

const InputFormat* inputFormatOf(FileKind kind) {
  for (const InputFormat& f : inputTable)
    if (f.kind == kind) return &f;
  return nullptr;
}

FileKind kindOfContent(const uint8_t* head, size_t size) {
  for (const InputFormat& f : inputTable)
    if (f.recognises && f.recognises(head, size)) return f.kind;
  return FileKind::None;
}

FileKind kindOfPath(const std::string& path) {
  const std::string ext = "*" + upperCase(extensionOf(path));
  if (ext == "*") return FileKind::None;
  for (const InputFormat& f : inputTable) {
    const std::string list = " " + upperCase(f.extensions) + " ";
    if (list.find(" " + ext + " ") != std::string::npos) return f.kind;
  }
  return FileKind::None;
}

const char* kindText(FileKind kind) {
  const InputFormat* f = inputFormatOf(kind);
  return f ? f->name : "";
}

std::string readableFormatsText() {
  std::string text;
  for (size_t i = 0; i < inputTable.size(); ++i)
    text += std::string(i == 0 ? "" : i + 1 == inputTable.size() ? " and " : ", ") + inputTable[i].label;
  return text;
}

std::string extensionPatterns(FileKind kind) {
  std::string out;
  for (const InputFormat& f : inputTable) {
    if (kind != FileKind::None && f.kind != kind) continue;
    out += (out.empty() ? "" : " ") + std::string(f.extensions);
  }
  return out;
}

const std::vector<OutputKind>& outputKinds() { return outputTable; }

uint32_t codecOptions(Codec codec) {
  switch (codec) {
    case Codec::Lzw:
      return optPredictor;
    case Codec::Deflate:
    case Codec::Zstd:
      return optLevel | optPredictor;
    case Codec::Jpeg:
      return optQuality | optSubsampling;
    case Codec::WebP:
      return optQuality | optLossless;
    case Codec::None:
      break;
  }
  return 0;
}

int maxLevel(const OutputFormat& f) {
  if (f.kind == FileKind::Png) return 9;
  return f.codec == Codec::Zstd ? 19 : f.codec == Codec::Deflate ? 9 : 0;
}

const OutputKind* outputKindNamed(const std::string& name) {
  for (const OutputKind& k : outputTable)
    if (name == k.name) return &k;
  return nullptr;
}

const OutputKind& outputKindOf(const OutputFormat& format) {
  for (const OutputKind& k : outputTable)
    if (k.format.kind == format.kind && k.format.lzw == format.lzw && k.format.psd == format.psd) return k;
  return outputTable.front();
}

std::string outputKindNames() {
  std::string names;
  for (const OutputKind& k : outputTable) names += (names.empty() ? "" : ", ") + std::string(k.name);
  return names;
}

const char* outputExtension(const OutputFormat& format, bool bigTiff) {
  switch (format.kind) {
    case FileKind::Kro:
      return ".kro";
    case FileKind::Raw:
      return ".raw";
    case FileKind::Tiff:
      return bigTiff ? ".big.tif" : ".tif";
    case FileKind::Psd:
      return format.psd ? ".psd" : ".psb";
    case FileKind::Png:
      return ".png";
    case FileKind::Jpeg:
      return ".jpg";
    case FileKind::None:
      break;
  }
  return "";
}

// The original TIFF kinds keep their rules: RGB only. The KRO stores four
// channels whatever it is given.
bool keepsAlpha(const OutputFormat& f) {
  if (f.kind == FileKind::Tiff) return f.tuned && f.codec != Codec::Jpeg;  // JPEG codes colour only
  return f.kind != FileKind::Raw && outputKindOf(f).alpha;
}

// WebP in TIFF codes colour only.
bool keepsGray(const OutputFormat& f) {
  return f.kind == FileKind::Tiff ? f.tuned && f.codec != Codec::WebP : outputKindOf(f).gray;
}

int outputChannels(const OutputFormat& format, const KeptFromInput& kept) {
  if (format.kind == FileKind::Kro) return 4;
  const bool alpha = kept.channels == 4 && keepsAlpha(format), gray = kept.gray && keepsGray(format);
  return gray ? (alpha ? 2 : 1) : (alpha ? 4 : 3);
}

std::string lossNote(const OutputFormat& format, const ImageInfo& input) {
  const std::string label = format.kind == FileKind::Tiff && format.tuned && format.codec == Codec::Jpeg
                                ? "JPEG-compressed TIFF"
                                : outputKindOf(format).label;
  if (input.channels == 4 && !input.gray && !keepsAlpha(format))
    return "The alpha channel is not written to " + label + ": choose KRO, PSB, PNG or a compressed TIFF to keep it";
  if (input.gray && input.channels == 4 && !keepsAlpha(format))
    return "The alpha channel of this gray image is not written to " + label +
           ": choose PSB, PNG or a compressed TIFF to keep it";
  if (input.gray && !keepsGray(format))
    return "The gray image is written to " + label +
           (format.kind == FileKind::Kro ? " as RGBA, four times its size" : " as RGB, three times its size") +
           ": choose PNG, PSB or a compressed TIFF to keep it gray";
  return {};
}

namespace {

std::string sizeText(uint32_t w, uint32_t h) { return std::to_string(w) + " × " + std::to_string(h); }

// The limits of the new TIFF writer's codecs.
std::string tiffCodecRefusal(const OutputFormat& f, uint32_t width, int bits) {
  if (!f.tuned || (f.codec != Codec::Jpeg && f.codec != Codec::WebP)) return {};
  const std::string codec = f.codec == Codec::Jpeg ? "JPEG" : "WebP";
  if (bits != 8)
    return codec + " compression holds 8 bits per sample: this image has " + std::to_string(bits) +
           ". Choose Deflate or ZSTD to keep them";
  const uint32_t chunkWidth = f.tileSide ? f.tileSide : width;
  if (f.codec == Codec::WebP && chunkWidth > 16383)
    return "WebP compression holds strips and tiles at most 16383 pixels wide: this output's are " +
           std::to_string(chunkWidth) + ". Write it in smaller tiles (--tiled)";
  return {};
}

}  // namespace

std::string formatRefusal(const OutputFormat& format, const ImageInfo& out) {
  const OutputKind& k = outputKindOf(format);
  const uint32_t width = out.width, height = out.height;
  if (out.bits == 16 && !k.sixteen)
    return std::string(k.label) + " holds 8 bits per sample: this image has 16. Choose PNG, PSB or TIFF to keep them";
  if (width > k.maxSide || height > k.maxSide)
    return std::string(k.label) + " holds at most " + std::to_string(k.maxSide) + " pixels a side: this output is " +
           sizeText(width, height) + ". " +
           (format.kind == FileKind::Psd ? "Choose PSB, which holds 300000" : "Choose PSB, PNG or TIFF");
  if (format.kind == FileKind::Psd && format.psd) {
    // RLE at its worst, and with alpha the layer as well as the composite.
    const uint64_t raw = uint64_t{width} * height * out.bytesPerPixel();
    const uint64_t worst = (raw + raw / 64 + uint64_t{height} * 4 * out.channels) * (out.channels % 2 ? 1 : 2);
    if (worst > (uint64_t{1} << 31))
      return "A PSD file holds at most 2 GB: this output may take " + byteSizeText(worst) +
             ". Choose PSB";
  }
  return format.kind == FileKind::Tiff ? tiffCodecRefusal(format, width, out.bits) : "";
}

}  // namespace torvel
