// torvel pyramid: the options of a zoomable pyramid, checked before the
// input is probed, and its run.
#include "cli/commands.h"
#include "engine/files.h"
#include "engine/operations.h"

namespace torvel::cli {

namespace {

uint32_t countIn(const Arguments& a, const char* option, uint32_t low, uint32_t high) {
  const uint32_t v = parseCount(a.value(option), option);
  if (v < low || v > high)
    throw UsageError{std::string(option) + " takes " + std::to_string(low) + " to " + std::to_string(high)};
  return v;
}

TileFormat tileFormatOf(const Arguments& a) {
  if (!a.has("--tile-format") || a.value("--tile-format") == "jpg") return TileFormat::Jpeg;
  if (a.value("--tile-format") == "png") return TileFormat::Png;
  if (a.value("--tile-format") == "webp") return TileFormat::WebP;
  throw UsageError{"--tile-format takes jpg, png or webp"};
}

void backgroundOf(const Arguments& a, uint8_t out[3]) {
  const std::string text = a.value("--background");
  size_t at = 0;
  for (int c = 0; c < 3; ++c) {
    const size_t comma = text.find(',', at);
    if ((c < 2) != (comma != std::string::npos)) throw UsageError{"--background takes R,G,B (0 to 255 each)"};
    const uint32_t v = parseCount(text.substr(at, comma - at), "--background");
    if (v > 255) throw UsageError{"--background takes R,G,B (0 to 255 each)"};
    out[c] = static_cast<uint8_t>(v);
    at = comma + 1;
  }
}

PyramidSettings pyramidSettingsOf(const Arguments& a) {
  for (const char* o : {"--format", "--compress", "--level", "--subsampling", "--predictor", "--rows-per-strip", "--grid",
                        "--width", "--output"})
    if (a.has(o)) throw UsageError{std::string(o) + " does not apply to pyramid"};
  if (a.tiled || a.pyramid) throw UsageError{"pyramid writes tiles in its own layouts: --tile N sets their side"};
  PyramidSettings s;
  if (a.has("--layout") && !layoutNamed(a.value("--layout"), s.layout))
    throw UsageError{"--layout takes dz, iiif, zoomify or xyz"};
  if (a.has("--tile")) s.tile = countIn(a, "--tile", 16, 8192);
  s.overlap = s.layout == PyramidLayout::DeepZoom ? 1 : 0;
  if (a.has("--overlap") && s.layout != PyramidLayout::DeepZoom) throw UsageError{"--overlap applies to --layout dz"};
  if (a.has("--overlap")) s.overlap = countIn(a, "--overlap", 0, 8);
  s.encoding.format = tileFormatOf(a);
  if (a.has("--quality") && s.encoding.format == TileFormat::Png) throw UsageError{"--quality applies to jpg and webp tiles"};
  if (a.has("--quality")) s.encoding.quality = static_cast<int>(countIn(a, "--quality", 1, 100));
  if (a.lossless && s.encoding.format != TileFormat::WebP) throw UsageError{"--lossless applies to webp tiles"};
  s.encoding.lossless = a.lossless;
  if (a.has("--background")) backgroundOf(a, s.background);
  s.skipBlank = a.skipBlank;
  if (a.has("--base-url") && s.layout != PyramidLayout::Iiif) throw UsageError{"--base-url applies to --layout iiif"};
  if (a.has("--base-url")) s.baseUrl = a.value("--base-url");
  s.zip = a.zip;
  s.viewer = !a.noViewer;
  return s;
}

}  // namespace

int runPyramid(const Arguments& a, const RunContext& context) {
  if (a.positional.size() != 1) throw UsageError{"expected one FILE"};
  const PyramidSettings settings = pyramidSettingsOf(a);
  if (std::string refusal = outFolderRefusal(a); !refusal.empty()) return finish({Outcome::Refused, refusal, {}});
  ImageInfo in;
  if (auto refusals = selectInput(a.positional[0], a, in); !in.accepted) return refuseInput(refusals);
  return finish(makePyramid({in, settings, outputDir(a, a.positional[0])}, context));
}

}  // namespace torvel::cli
