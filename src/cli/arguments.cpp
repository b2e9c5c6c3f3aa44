#include "cli/arguments.h"

namespace torvel::cli {

uint32_t parseCount(const std::string& text, const std::string& what) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
    throw UsageError{"malformed number for " + what + ": '" + text + "'"};
  const unsigned long long v = std::stoull(text);
  if (v > 0x7FFFFFFFull) throw UsageError{"number too large for " + what + ": '" + text + "'"};
  return static_cast<uint32_t>(v);
}

void parsePair(const std::string& text, const std::string& what, uint32_t& a, uint32_t& b) {
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos) throw UsageError{what + " takes AxB, not '" + text + "'"};
  a = parseCount(text.substr(0, x), what);
  b = parseCount(text.substr(x + 1), what);
}

namespace {

bool takesValue(const std::string& option) {
  for (const char* o : {"--format", "--out", "--raw-size", "--bits", "--tile", "--grid", "--width", "--compress", "--level",
                        "--quality", "--subsampling", "--predictor", "--rows-per-strip", "--layout", "--overlap",
                        "--tile-format", "--background", "--base-url", "--output", "--jobs", "--size"})
    if (option == o) return true;
  return false;
}

bool takeFlag(Arguments& a, const std::string& arg) {
  bool* flags[] = {&a.yes, &a.quiet, &a.verbose, &a.help, &a.fast, &a.json, &a.lossless, &a.pyramid, &a.slow,
                   &a.skipBlank, &a.zip, &a.noViewer, &a.recursive, &a.keepGoing};
  const char* names[] = {"--yes", "--quiet", "--verbose", "--help", "--fast", "--json", "--lossless", "--pyramid",
                         "--slow", "--skip-blank", "--zip", "--no-viewer", "--recursive", "--keep-going"};
  for (int i = 0; i < 14; ++i)
    if (arg == names[i]) return *flags[i] = true;
  return false;
}

// --tiled, with the tile side when a number follows.
bool takeTiles(Arguments& a, int argc, char** argv, int& i) {
  const std::string arg = argv[i];
  if (arg != "--tiled" && arg.rfind("--tiled=", 0) != 0) return false;
  a.tiled = true;
  std::string side = arg.size() > 8 ? arg.substr(8) : "";
  if (side.empty() && i + 1 < argc && std::string(argv[i + 1]).find_first_not_of("0123456789") == std::string::npos)
    side = argv[++i];
  if (!side.empty()) a.tileSide = parseCount(side, "--tiled");
  return true;
}

// The RAW geometry options: what the RAW size dialog would ask.
void readRawGeometry(Arguments& a) {
  if (a.has("--raw-size")) parsePair(a.value("--raw-size"), "--raw-size", a.rawWidth, a.rawHeight);
  if (!a.has("--bits")) return;
  const uint32_t bits = parseCount(a.value("--bits"), "--bits");
  if (bits != 8 && bits != 16) throw UsageError{"--bits takes 8 or 16"};
  a.rawBits = static_cast<int>(bits);
}

}  // namespace

Arguments parseArguments(int argc, char** argv) {
  Arguments a;
  a.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (takeFlag(a, arg) || takeTiles(a, argc, argv, i)) continue;
    if (arg == "-o" || arg == "-s") {  // short names of --output and --size
      if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
      a.values[arg == "-o" ? "--output" : "--size"] = argv[++i];
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      a.positional.push_back(arg);
      continue;
    }
    const size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    if (!takesValue(name)) throw UsageError{"unknown option " + name};
    if (eq == std::string::npos && i + 1 >= argc) throw UsageError{name + " needs a value"};
    a.values[name] = eq != std::string::npos ? arg.substr(eq + 1) : argv[++i];
  }
  readRawGeometry(a);
  if (a.has("--jobs")) {
    a.jobs = parseCount(a.value("--jobs"), "--jobs");
    if (a.jobs == 0) throw UsageError{"--jobs must be at least 1"};
  }
  if (a.fast && a.slow) throw UsageError{"--fast and --slow cannot be given together"};
  return a;
}

}  // namespace torvel::cli
