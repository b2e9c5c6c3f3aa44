#include "cli/usage.h"

#include <utility>

#include "engine/formats.h"

namespace torvel::cli {

namespace {

const std::pair<const char*, const char*> commandLines[] = {
    {"info", "  torvel info    FILE [--json] [--raw-size WxH] [--bits 8|16]\n"},
    {"convert", "  torvel convert FILE...              [common options] [output options] [batch options] [-o OUT]\n"},
    {"crop", "  torvel crop    FILE X Y W H         [common options] [output options] [-o OUT]\n"},
    {"split", "  torvel split   FILE --tile WxH      [common options] [output options]\n"},
    {"merge", "  torvel merge   FILE... [--grid CxR] [common options] [output options] [-o OUT]\n"},
    {"resize", "  torvel resize  FILE... --width N [--fast | --slow] [common options] [output options]\n"
               "                 [batch options] [-o OUT]\n"},
    {"pyramid", "  torvel pyramid FILE                 [pyramid options] [common options]\n"},
    {"preview", "  torvel preview FILE... --width N --out PICTURE.png|DIR [--yes] [--raw-size WxH] [--bits 8|16]\n"
                "                 [batch options]\n"},
    {"thumbnail", "  torvel thumbnail [-s N | --size N] FILE OUT.png   (a file manager's thumbnailer: the\n"
                  "                 longer side at most N, default 256); FILE... --out DIR for several\n"},
};

const char* const common =
    "Common options:\n"
    "  --format NAME                 output format, one of those below (default tif; with -o, as its extension says)\n"
    "  --out DIR                     output folder, must exist (default: the input's folder)\n"
    "  -o, --output PATH             the output's name, for commands that write one file\n"
    "  --yes                         overwrite existing output files\n"
    "  --raw-size WxH, --bits 8|16   geometry of a RAW input whose name does not give it\n"
    "  --quiet                       no progress display, and nothing printed on success\n"
    "  --verbose                     also print each status text\n";

const char* const output =
    "Output options (each where the format takes it):\n"
    "  --compress none|lzw|deflate|zstd|jpeg|webp   TIFF codec\n"
    "  --level N                     Deflate 1-9, ZSTD 1-19, PNG 0-9\n"
    "  --quality N, --lossless       JPEG and WebP quality 1-100 (default 85); lossless WebP\n"
    "  --subsampling 420|444         JPEG chroma subsampling (default 420)\n"
    "  --predictor none|horizontal   LZW, Deflate, ZSTD (default horizontal, none for tif-lzw)\n"
    "  --tiled [N]                   TIFF tiles of N x N (a multiple of 16; default 256)\n"
    "  --rows-per-strip N            TIFF strips of N rows\n"
    "  --pyramid                     TIFF with reduced-resolution levels, in tiles\n";

const char* const pyramid =
    "Pyramid options:\n"
    "  --layout dz|iiif|zoomify|xyz  Deep Zoom (NAME.dzi + NAME_files/), IIIF Image API 3 level-0\n"
    "                                static tiles, Zoomify, z/x/y tiles (default dz)\n"
    "  --tile N, --overlap N         tile side 16-8192 (default 256); overlap 0-8 (dz; default 1)\n"
    "  --tile-format jpg|png|webp    tile coding (default jpg); --quality N, --lossless as above\n"
    "  --background R,G,B            what JPEG tiles lay transparency on, and z/x/y edge tiles\n"
    "                                are filled with (default 255,255,255)\n"
    "  --skip-blank                  leave out tiles that are all background\n"
    "  --base-url URL                the id of IIIF's info.json (default: the folder's name)\n"
    "  --zip                         one uncompressed ZIP instead of a folder; viewers and IIIF\n"
    "                                servers cannot read it as it is: unpack it where it is shown\n"
    "  --no-viewer                   no NAME.html viewer page (written for dz, iiif and zoomify)\n";

const char* const batch =
    "Batch options (several FILEs, or a FOLDER with --recursive; one line per file and a summary):\n"
    "  --jobs N                      files processed at once (default 1)\n"
    "  --keep-going                  go on after a file fails (default: stop at the first failure)\n"
    "  --recursive                   a FOLDER stands for every image under it that torvel reads\n";

std::string formats() {
  std::string text = "Formats:\n";
  for (const OutputKind& k : outputKinds()) {
    const std::string name = "  " + std::string(k.name);
    text += name + std::string(name.size() < 32 ? 32 - name.size() : 1, ' ') + k.about + "\n";
  }
  return text;
}

}  // namespace

std::string usageText(const std::string& command) {
  for (const auto& [name, line] : commandLines) {
    if (command != name) continue;
    std::string text = std::string("Usage:\n") + line;
    if (command == "info" || command == "thumbnail") return text;
    if (command == "preview") return text + "\n" + batch;
    text += std::string("\n") + common;
    if (command == "pyramid") return text + "\n" + pyramid;
    if (command == "convert" || command == "resize") text += std::string("\n") + batch;
    return text + "\n" + output + "\n" + formats();
  }
  std::string text = "Usage:\n";
  for (const auto& [name, line] : commandLines) text += line;
  text += "  torvel --version | --help | COMMAND --help\n\n";
  return text + common + "\n" + output + "\n" + batch + "\n" + pyramid + "\n" + formats();
}

}  // namespace torvel::cli
