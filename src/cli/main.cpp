// torvel: the engine on the command line. It sets up runs as the window does
// and adds no image logic of its own.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "cli/commands.h"
#include "cli/terminal.h"
#include "engine/tifffile.h"
#include "torvel/version.h"

namespace {

const char* const usage =
    "Usage:\n"
    "  torvel info    FILE [--json] [--raw-size WxH] [--bits 8|16]\n"
    "  torvel convert FILE                 [common options]\n"
    "  torvel crop    FILE X Y W H         [common options]\n"
    "  torvel split   FILE --tile WxH      [common options]\n"
    "  torvel merge   FILE... [--grid CxR] [common options]\n"
    "  torvel resize  FILE --width N [--fast | --slow] [common options]\n"
    "  torvel preview FILE --width N --out PICTURE.png [--raw-size WxH] [--bits 8|16]\n"
    "  torvel --version | --help | COMMAND --help\n"
    "\n"
    "Common options:\n"
    "  --format tif|tif-lzw|raw|kro  output kind (default tif)\n"
    "  --out DIR                     output folder, must exist (default: the input's folder)\n"
    "  --yes                         overwrite an existing output file\n"
    "  --raw-size WxH, --bits 8|16   geometry of a RAW input whose name does not give it\n"
    "  --quiet                       no progress display\n"
    "  --verbose                     also print each status text\n";

bool knownCommand(const char* name) {
  for (const char* c : {"info", "convert", "crop", "split", "merge", "resize", "preview"})
    if (!std::strcmp(name, c)) return true;
  return false;
}

int run(int argc, char** argv) {
  using namespace torvel::cli;
  const Arguments args = parseArguments(argc, argv);
  if (args.help) {
    std::fputs(usage, stdout);
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
  return args.command == "preview" ? runPreview(args, context) : runOperation(args, context);
}

}  // namespace

int main(int argc, char** argv) {
  // A closed stderr (`torvel ... 2>&1 | head`) is no reason to stop a run.
  std::signal(SIGPIPE, SIG_IGN);
  torvel::installTiffHandlers();
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(usage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("torvel %s\n", torvel::torvelVersion);
    return 0;
  }
  if (!knownCommand(argv[1])) {
    std::fprintf(stderr, "torvel: unknown command '%s'\n\n%s", argv[1], usage);
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
