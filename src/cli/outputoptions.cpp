#include "cli/outputoptions.h"


#include "engine/files.h"
#include "engine/formats.h"
#include "engine/text.h"

namespace torvel::cli {

namespace {

struct GivenOption {
  const char* name;
  OutputOption flag;
  bool given;
};

// Refuses every option given that `kind` takes no part of.
void checkOptionsApply(const Arguments& a, const OutputKind& kind) {
  const GivenOption options[] = {
      {"--compress", optCompress, a.has("--compress")},       {"--level", optLevel, a.has("--level")},
      {"--quality", optQuality, a.has("--quality")},          {"--lossless", optLossless, a.lossless},
      {"--subsampling", optSubsampling, a.has("--subsampling")}, {"--predictor", optPredictor, a.has("--predictor")},
      {"--tiled", optTiles, a.tiled},                         {"--rows-per-strip", optRowsPerStrip, a.has("--rows-per-strip")},
      {"--pyramid", optPyramid, a.pyramid}};
  for (const GivenOption& o : options)
    if (o.given && !(kind.options & o.flag))
      throw UsageError{std::string(o.name) + " does not apply to --format " + kind.name};
}

uint32_t countIn(const Arguments& a, const char* option, uint32_t low, uint32_t high) {
  const uint32_t v = parseCount(a.value(option), option);
  if (v < low || v > high)
    throw UsageError{std::string(option) + " takes " + std::to_string(low) + " to " + std::to_string(high)};
  return v;
}

Codec codecNamed(const std::string& name) {
  const std::pair<const char*, Codec> codecs[] = {{"none", Codec::None}, {"lzw", Codec::Lzw},
                                                  {"deflate", Codec::Deflate}, {"zstd", Codec::Zstd},
                                                  {"jpeg", Codec::Jpeg}, {"webp", Codec::WebP}};
  for (const auto& [n, c] : codecs)
    if (name == n) return c;
  throw UsageError{"--compress takes none, lzw, deflate, zstd, jpeg or webp"};
}

// A TIFF option makes the new TIFF writer; each option must suit the codec.
void applyTiffOptions(const Arguments& a, OutputFormat& f) {
  if (a.has("--compress")) f.codec = codecNamed(a.value("--compress"));
  const uint32_t takes = codecOptions(f.codec);
  if (a.has("--level") && !(takes & optLevel)) throw UsageError{"--level applies to --compress deflate (1-9) and zstd (1-19)"};
  if (a.has("--level")) f.level = static_cast<int>(countIn(a, "--level", 1, static_cast<uint32_t>(maxLevel(f))));
  if ((a.has("--quality") || a.lossless) && !(takes & optQuality))
    throw UsageError{"--quality and --lossless apply to --compress jpeg and webp"};
  if (a.lossless && !(takes & optLossless)) throw UsageError{"--lossless applies to --compress webp"};
  if (a.has("--subsampling") && !(takes & optSubsampling)) throw UsageError{"--subsampling applies to --compress jpeg"};
  if (a.has("--predictor") && !(takes & optPredictor))
    throw UsageError{"--predictor applies to --compress lzw, deflate and zstd"};
  if (a.has("--predictor") && a.value("--predictor") != "none" && a.value("--predictor") != "horizontal")
    throw UsageError{"--predictor takes none or horizontal"};
  if (a.has("--predictor")) f.predictor = a.value("--predictor") == "horizontal";
  if (a.tiled) f.tileSide = a.tileSide ? a.tileSide : 256;
  if (a.tiled && (f.tileSide % 16 || f.tileSide > 65536)) throw UsageError{"--tiled takes a multiple of 16, up to 65536"};
  if (a.has("--rows-per-strip")) f.rowsPerStrip = countIn(a, "--rows-per-strip", 1, 0x7FFFFFFF);
  if (a.tiled && a.has("--rows-per-strip")) throw UsageError{"--tiled and --rows-per-strip cannot be given together"};
  f.pyramid = a.pyramid;
  if (a.pyramid && !a.tiled) f.tileSide = 256;  // levels are tiled
  if (a.pyramid && a.has("--rows-per-strip")) throw UsageError{"--pyramid writes tiles: --rows-per-strip does not apply"};
}

void applyCommonOptions(const Arguments& a, OutputFormat& f) {
  if (a.has("--quality")) f.quality = static_cast<int>(countIn(a, "--quality", 1, 100));
  f.lossless = a.lossless;
  if (a.has("--subsampling") && a.value("--subsampling") != "420" && a.value("--subsampling") != "444")
    throw UsageError{"--subsampling takes 420 or 444"};
  f.chroma444 = a.has("--subsampling") && a.value("--subsampling") == "444";
  if (a.has("--level") && f.kind == FileKind::Png) f.level = static_cast<int>(countIn(a, "--level", 0, 9));
}

bool anyTiffOption(const Arguments& a) {
  for (const char* o : {"--compress", "--level", "--quality", "--subsampling", "--predictor", "--rows-per-strip"})
    if (a.has(o)) return true;
  return a.lossless || a.tiled || a.pyramid;
}

}  // namespace

namespace {

// The format an output name's extension says: ".png" is png, ".tiff" tif...
std::string formatOfName(const std::string& path) {
  const std::string ext = upperCase(extensionOf(path));
  if (ext == ".TIFF") return "tif";
  if (ext == ".JPEG") return "jpg";
  for (const OutputKind& k : outputKinds())
    if (ext == upperCase("." + std::string(k.name))) return k.name;
  throw UsageError{"-o " + path + ": its extension names no output format (" + outputKindNames() + ")"};
}

// An output named against its format: "-o x.png --format tif" would hide a TIFF behind ".png".
void checkOutputName(const Arguments& a) {
  if (!a.has("--output") || !a.has("--format")) return;
  std::string named;
  try {
    named = formatOfName(a.value("--output"));
  } catch (const UsageError&) {
    return;  // an extension of no format of ours: the name is the user's choice
  }
  const OutputKind* given = outputKindNamed(a.value("--format"));
  const OutputKind* byName = outputKindNamed(named);
  if (given && byName && std::string(outputExtension(given->format)) != outputExtension(byName->format))
    throw UsageError{"-o " + a.value("--output") + " does not end as --format " + given->name + " files do (" +
                     outputExtension(given->format) + ")"};
}

}  // namespace

OutputFormat outputFormatOf(const Arguments& a) {
  std::string name = a.has("--format") ? a.value("--format") : "tif";
  if (a.has("--output") && !a.has("--format")) name = formatOfName(a.value("--output"));
  checkOutputName(a);
  const OutputKind* kind = outputKindNamed(name);
  if (!kind) throw UsageError{"--format takes " + outputKindNames()};
  checkOptionsApply(a, *kind);
  OutputFormat f = kind->format;
  // Without options tif and tif-lzw are the original kinds, byte for byte.
  if (f.kind == FileKind::Tiff && anyTiffOption(a)) {
    f.tuned = true;
    applyTiffOptions(a, f);
  }
  applyCommonOptions(a, f);
  return f;
}

}  // namespace torvel::cli
