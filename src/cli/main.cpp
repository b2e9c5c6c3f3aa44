// torvel: the engine on the command line. It sets up runs as the window does
// and adds no image logic of its own.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "cli/commands.h"
#include "cli/terminal.h"
#include "engine/formats.h"
#include "engine/tifffile.h"
#include "torvel/version.h"

namespace {

const char* const usage =
    "Usage:\n"
    "  torvel info    FILE [--json] [--raw-size WxH] [--bits 8|16]\n"
    "  torvel convert FILE                 [common options] [output options]\n"
    "  torvel crop    FILE X Y W H         [common options] [output options]\n"
    "  torvel split   FILE --tile WxH      [common options] [output options]\n"
    "  torvel merge   FILE... [--grid CxR] [common options] [output options]\n"
    "  torvel resize  FILE --width N [--fast | --slow] [common options] [output options]\n"
    "  torvel pyramid FILE                 [pyramid options] [common options]\n"
    "  torvel preview FILE --width N --out PICTURE.png [--raw-size WxH] [--bits 8|16]\n"
    "  torvel --version | --help | COMMAND --help\n"
    "\n"
    "Common options:\n"
    "  --format NAME                 output format, one of those below (default tif)\n"
    "  --out DIR                     output folder, must exist (default: the input's folder)\n"
    "  --yes                         overwrite an existing output file\n"
    "  --raw-size WxH, --bits 8|16   geometry of a RAW input whose name does not give it\n"
    "  --quiet                       no progress display\n"
    "  --verbose                     also print each status text\n"
    "\n"
    "Output options (each where the format takes it):\n"
    "  --compress none|lzw|deflate|zstd|jpeg|webp   TIFF codec\n"
    "  --level N                     Deflate 1-9, ZSTD 1-19, PNG 0-9\n"
    "  --quality N, --lossless       JPEG and WebP quality 1-100 (default 85); lossless WebP\n"
    "  --subsampling 420|444         JPEG chroma subsampling (default 420)\n"
    "  --predictor none|horizontal   LZW, Deflate, ZSTD (default horizontal, none for tif-lzw)\n"
    "  --tiled [N]                   TIFF tiles of N x N (a multiple of 16; default 256)\n"
    "  --rows-per-strip N            TIFF strips of N rows\n"
    "\n"
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
    "  --no-viewer                   no NAME.html viewer page (written for dz, iiif and zoomify)\n"
    "\n"
    "Formats:\n";

// The usage, with the formats as the format table gives them.
std::string usageText() {
  std::string text = usage;
  for (const torvel::OutputKind& k : torvel::outputKinds()) {
    std::string name = "  " + std::string(k.name);
    text += name + std::string(name.size() < 32 ? 32 - name.size() : 1, ' ') + k.about + "\n";
  }
  return text;
}

bool knownCommand(const char* name) {
  for (const char* c : {"info", "convert", "crop", "split", "merge", "resize", "pyramid", "preview"})
    if (!std::strcmp(name, c)) return true;
  return false;
}

int run(int argc, char** argv) {
  using namespace torvel::cli;
  const Arguments args = parseArguments(argc, argv);
  if (args.help) {
    std::fputs(usageText().c_str(), stdout);
    return 0;
  }
  if (args.command == "info") return runInfo(args);
  TerminalObserver observer(args);
  // Without --yes, an existing output is kept, and the question says how to replace it.
  auto ask = [](const std::string&) {
    printError("Output file exists. Do you want to overwrite it? No (use --yes to overwrite)");
    return false;
  };
  const torvel::RunContext context(&observer, cancelOnSignals(),
                                   args.yes ? torvel::Overwrite::Yes : torvel::Overwrite::Ask, ask);
  if (args.command == "pyramid") return runPyramid(args, context);
  return args.command == "preview" ? runPreview(args, context) : runOperation(args, context);
}

}  // namespace

int main(int argc, char** argv) {
  // A closed stderr (`torvel ... 2>&1 | head`) is no reason to stop a run.
  std::signal(SIGPIPE, SIG_IGN);
  torvel::installTiffHandlers();
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(usageText().c_str(), argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("torvel %s\n", torvel::torvelVersion);
    return 0;
  }
  if (!knownCommand(argv[1])) {
    std::fprintf(stderr, "torvel: unknown command '%s'\n\n%s", argv[1], usageText().c_str());
    return 2;
  }
  try {
    return run(argc, argv);
  } catch (const torvel::cli::UsageError& e) {
    std::fprintf(stderr, "torvel %s: %s\n(see torvel --help)\n", argv[1], e.text.c_str());
    return 2;
  } catch (const std::bad_alloc&) {
    return torvel::cli::finish({torvel::Outcome::Failed, "Not enough memory to run " + std::string(argv[1]), {}});
  } catch (const std::exception& e) {
    return torvel::cli::finish({torvel::Outcome::Failed, e.what(), {}});
  }
}
