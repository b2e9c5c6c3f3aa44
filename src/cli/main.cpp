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
#include "cli/usage.h"
#include "engine/formats.h"
#include "engine/tifffile.h"
#include "engine/versions.h"
#include "resize/kernels.h"
#include "torvel/version.h"

namespace {

bool knownCommand(const char* name) {
  for (const char* c : {"info", "convert", "crop", "split", "merge", "resize", "pyramid", "preview", "thumbnail"})
    if (!std::strcmp(name, c)) return true;
  return false;
}

int run(int argc, char** argv) {
  using namespace torvel::cli;
  const Arguments args = parseArguments(argc, argv);
  if (args.help) {
    std::fputs(torvel::cli::usageText(args.command).c_str(), stdout);
    return 0;
  }
  setQuiet(args.quiet);
  if (args.command == "info") return runInfo(args);
  TerminalObserver observer(args);
  // Without --yes, an existing output is kept, and the question says how to replace it.
  auto ask = [](const std::vector<std::string>& paths) {
    if (paths.size() == 1)
      printError("Output file exists. Do you want to overwrite it? No (use --yes to overwrite)");
    else
      printError(std::to_string(paths.size()) + " output files already exist (the first: " + paths.front() +
                 "). Not replaced: use --yes to replace them");
    return false;
  };
  const torvel::RunContext context(&observer, cancelOnSignals(),
                                   args.yes ? torvel::Overwrite::Yes : torvel::Overwrite::Ask, ask);
  if (args.command == "pyramid") return runPyramid(args, context);
  if (args.command == "thumbnail") return runThumbnail(args, context);
  return args.command == "preview" ? runPreview(args, context) : runOperation(args, context);
}

}  // namespace

int main(int argc, char** argv) {
  // A closed stderr (`torvel ... 2>&1 | head`) is no reason to stop a run.
  std::signal(SIGPIPE, SIG_IGN);
  torvel::installTiffHandlers();
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(torvel::cli::usageText("").c_str(), argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("torvel %s\n%s\nResampling kernels: %s\n", torvel::torvelVersion, torvel::libraryVersions().c_str(),
                torvel::kernelFeatures());
#ifdef TORVEL_QT_VERSION
    std::printf("The window (torvel-tools): Qt %s\n", TORVEL_QT_VERSION);
#endif
    return 0;
  }
  if (!knownCommand(argv[1])) {
    std::fprintf(stderr, "torvel: unknown command '%s'\n\n%s", argv[1], torvel::cli::usageText("").c_str());
    return 2;
  }
  try {
    return run(argc, argv);
  } catch (const torvel::cli::UsageError& e) {
    std::fprintf(stderr, "torvel %s: %s\n(see torvel %s --help)\n", argv[1], e.text.c_str(), argv[1]);
    return 2;
  } catch (const std::bad_alloc&) {
    return torvel::cli::finish({torvel::Outcome::Failed, "Not enough memory to run " + std::string(argv[1]), {}});
  } catch (const std::exception& e) {
    return torvel::cli::finish({torvel::Outcome::Failed, e.what(), {}});
  }
}
