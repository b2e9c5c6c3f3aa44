// torvel: the engine on the command line. It fills the engine record as the
// window does and adds no image logic of its own.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/terminal.h"
#include "engine/setup.h"
#include "engine/torvel.h"
#include "engine/utils.h"
#include "resize/pipeline.h"

namespace {

constexpr const char* Version = "2.1.0";

const char* const Usage =
    "Usage:\n"
    "  torvel info    FILE [--raw-size WxH] [--bits 8|16]\n"
    "  torvel convert FILE                 [common options]\n"
    "  torvel crop    FILE X Y W H         [common options]\n"
    "  torvel split   FILE --tile WxH      [common options]\n"
    "  torvel merge   FILE... [--grid CxR] [common options]\n"
    "  torvel resize  FILE --width N [--fast | --slow] [common options]\n"
    "  torvel --version | --help | COMMAND --help\n"
    "\n"
    "Common options:\n"
    "  --format tif|tif-lzw|raw|kro  output kind (default tif)\n"
    "  --out DIR                     output folder, must exist (default: the input's folder)\n"
    "  --yes                         overwrite an existing output file\n"
    "  --raw-size WxH, --bits 8|16   geometry of a RAW input whose name does not give it\n"
    "  --quiet                       no progress display\n"
    "  --verbose                     also print each status text\n";

struct TUsageError {
  std::string Text;
};

struct TArgs {
  std::string Command;
  std::vector<std::string> Positional;
  std::map<std::string, std::string> Values;  // options with a value
  TTerminalOptions Term;
  bool Fast = false;
};

// A whole non-negative number, or a usage error.
uint32_t ParseCount(const std::string& text, const std::string& what) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
    throw TUsageError{"malformed number for " + what + ": '" + text + "'"};
  unsigned long long v = std::stoull(text);
  if (v > 0x7FFFFFFFull) throw TUsageError{"number too large for " + what + ": '" + text + "'"};
  return static_cast<uint32_t>(v);
}

void ParsePair(const std::string& text, const std::string& what, uint32_t& a, uint32_t& b) {
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos) throw TUsageError{what + " takes AxB, not '" + text + "'"};
  a = ParseCount(text.substr(0, x), what);
  b = ParseCount(text.substr(x + 1), what);
}

TArgs ParseArgs(int argc, char** argv) {
  TArgs a;
  a.Command = argv[1];
  static const char* const withValue[] = {"--format", "--out", "--raw-size", "--bits", "--tile", "--grid", "--width"};
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--yes") a.Term.Yes = true;
    else if (arg == "--quiet") a.Term.Quiet = true;
    else if (arg == "--verbose") a.Term.Verbose = true;
    else if (arg == "--help") a.Values["--help"] = "1";
    else if (arg == "--fast") a.Fast = true;
    else if (arg == "--slow") a.Fast = false;
    else if (arg.rfind("--", 0) == 0) {
      std::string name = arg, value;
      size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
      }
      bool known = false;
      for (const char* w : withValue) known |= name == w;
      if (!known) throw TUsageError{"unknown option " + name};
      if (eq == std::string::npos) {
        if (i + 1 >= argc) throw TUsageError{name + " needs a value"};
        value = argv[++i];
      }
      a.Values[name] = value;
    } else {
      a.Positional.push_back(arg);
    }
  }
  if (a.Values.count("--raw-size")) ParsePair(a.Values["--raw-size"], "--raw-size", a.Term.RawWidth, a.Term.RawHeight);
  if (a.Values.count("--bits")) {
    uint32_t bits = ParseCount(a.Values["--bits"], "--bits");
    if (bits != 8 && bits != 16) throw TUsageError{"--bits takes 8 or 16"};
    a.Term.RawBits = static_cast<int>(bits);
  }
  return a;
}

void SetOutputFormat(TTorvel& S, const TArgs& a) {
  auto it = a.Values.find("--format");
  const std::string f = it == a.Values.end() ? "tif" : it->second;
  S.Lzw = false;
  if (f == "tif") S.OutInfo.ImageType = FileType::TIF;
  else if (f == "tif-lzw") {
    S.OutInfo.ImageType = FileType::TIF;
    S.Lzw = true;
  } else if (f == "raw") S.OutInfo.ImageType = FileType::RAW;
  else if (f == "kro") S.OutInfo.ImageType = FileType::KRO4;
  else throw TUsageError{"--format takes tif, tif-lzw, raw or kro"};
}

void RequirePositional(const TArgs& a, size_t n, const char* what) {
  if (a.Positional.size() != n) throw TUsageError{std::string("expected ") + what};
}

// Paths as a file dialog gives them: folder rules compare folders as text.
std::string Absolute(const std::string& path) { return std::filesystem::absolute(path).lexically_normal().string(); }

// Probes the input as the window's input selection does, limits included.
bool SelectInput(TTorvel& S, const std::string& file) {
  if (!FileExists(file)) {
    PrintError("File not found: " + file);
    return false;
  }
  S.InInfo = TFileInfo{};
  S.InInfo.FileName = Absolute(file);
  ProbeFile(S, true);
  return CheckInputLimits(S);
}

int RunInfo(TTorvel& S, const TArgs& a) {
  RequirePositional(a, 1, "one FILE");
  if (!SelectInput(S, a.Positional[0])) return 1;
  const TFileInfo& I = S.InInfo;
  std::printf("kind: %s\nfile-size: %lld\nwidth: %u\nheight: %u\nbits: %d\nchannels: %d\nbytes-per-pixel: %d\n"
              "pixels: %s\n",
              I.ImageTypeDesc.c_str(), static_cast<long long>(I.FileSize), I.Width, I.Height, I.Bits, I.Channels,
              I.BytesPerPixel, PixelCountText(int64_t{I.Width} * I.Height).c_str());
  return 0;
}

// Ends a run as the window's Start does, with the paths written on success.
int Finish(TTorvel& S, const std::vector<std::string>& written) {
  if (S.Abort) {
    PrintError("Operation aborted");
    return 1;
  }
  for (const std::string& p : written) std::printf("%s\n", p.c_str());
  std::printf("Operation completed successfully\n");
  return 0;
}

std::string OutputFolder(const TArgs& a, const std::string& input) {
  auto it = a.Values.find("--out");
  if (it == a.Values.end()) {
    std::string dir = GetOutputFolder("", input);
    return dir.empty() ? "./" : dir;
  }
  return GetOutputFolder(Absolute(it->second), input);
}

int RunOperation(TTorvel& S, const TArgs& a) {
  auto out = a.Values.find("--out");
  if (out != a.Values.end() && !FolderExists(out->second)) {
    PrintError("Output directory doesn't exists");
    return 1;
  }
  SetOutputFormat(S, a);
  std::vector<std::string> written;
  // Only a run that reaches its line work clears this, so a run declined
  // before it wrote anything (No to overwrite) is not reported as done.
  auto begin = [&S] { S.Abort = true; };

  if (a.Command == "merge") {
    if (a.Positional.empty()) throw TUsageError{"expected at least one FILE"};
    std::vector<std::string> files;
    for (const std::string& f : a.Positional) files.push_back(Absolute(f));
    uint32_t cols = 0, rows = 0;
    if (a.Values.count("--grid")) {
      ParsePair(a.Values.at("--grid"), "--grid", cols, rows);
    } else {
      TMergeGrid g = DeriveMergeGrid(files);
      if (!g.Ok) {
        PrintError(g.Message);
        PrintError("Operation aborted");
        return 1;
      }
      cols = static_cast<uint32_t>(g.Cols);
      rows = static_cast<uint32_t>(g.Rows);
    }
    begin();
    MergeTiles(S, cols, rows, files, GetOutputFolder(out != a.Values.end() ? Absolute(out->second) : "", files[0]));
    if (!S.Abort) written.push_back(S.OutInfo.FileName);
    return Finish(S, written);
  }

  const size_t want = a.Command == "crop" ? 5 : 1;
  RequirePositional(a, want, a.Command == "crop" ? "FILE X Y W H" : "one FILE");
  uint32_t x = 0, y = 0, w = 0, h = 0, tw = 0, th = 0;
  if (a.Command == "crop") {
    x = ParseCount(a.Positional[1], "X");
    y = ParseCount(a.Positional[2], "Y");
    w = ParseCount(a.Positional[3], "W");
    h = ParseCount(a.Positional[4], "H");
    if (w == 0 || h == 0) throw TUsageError{"W and H must be at least 1"};
  }
  uint32_t rw = 0;
  if (a.Command == "resize") {
    if (!a.Values.count("--width")) throw TUsageError{"resize needs --width N"};
    rw = ParseCount(a.Values.at("--width"), "--width");
    if (rw < 512 || rw > 999999) throw TUsageError{"--width takes 512 to 999999"};
  }
  if (a.Command == "split") {
    if (!a.Values.count("--tile")) throw TUsageError{"split needs --tile WxH"};
    ParsePair(a.Values.at("--tile"), "--tile", tw, th);
    if (tw == 0 || th == 0) throw TUsageError{"--tile sides must be at least 1"};
  }
  const std::string& file = a.Positional[0];
  if (!SelectInput(S, file)) {
    PrintError("Operation aborted");
    return 1;
  }
  const std::string dir = OutputFolder(a, file);
  begin();
  if (a.Command == "convert") {
    ConvertFile(S, 0, 0, static_cast<int32_t>(S.InInfo.Width), static_cast<int32_t>(S.InInfo.Height), dir, "");
    if (!S.Abort) written.push_back(S.OutInfo.FileName);
  } else if (a.Command == "crop") {
    CropFile(S, static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(w), static_cast<int32_t>(h),
             dir);
    if (!S.Abort) written.push_back(S.OutInfo.FileName);
  } else if (a.Command == "resize") {
    TResizeParams P;
    P.RequestedWidth = rw;
    P.RequestedHeight = static_cast<uint32_t>(ResizeHeight(S.InInfo.Width, S.InInfo.Height, rw));
    P.Fast = a.Fast;
    P.OutType = S.OutInfo.ImageType;
    P.Lzw = S.Lzw;
    if (out != a.Values.end()) P.ChosenFolder = Absolute(out->second);
    TResizeHost host;
    RunResize(S, P, host);
    if (!S.Abort) written.push_back(S.OutInfo.FileName);
  } else {
    tw = FitSplitTile(tw, S.InInfo.Width);
    th = FitSplitTile(th, S.InInfo.Height);
    SplitFile(S, tw, th, written, dir, "");
  }
  return Finish(S, written);
}

}  // namespace

int main(int argc, char** argv) {
  InstallTiffHandlers();
  if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
    std::fputs(Usage, argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("torvel %s\n", Version);
    return 0;
  }
  static const char* const commands[] = {"info", "convert", "crop", "split", "merge", "resize"};
  bool known = false;
  for (const char* c : commands) known |= !std::strcmp(argv[1], c);
  if (!known) {
    std::fprintf(stderr, "torvel: unknown command '%s'\n\n%s", argv[1], Usage);
    return 2;
  }
  try {
    TArgs a = ParseArgs(argc, argv);
    if (a.Values.count("--help")) {
      std::fputs(Usage, stdout);
      return 0;
    }
    TTorvel S;
    Init(S);
    TTerminalPrompt prompt(a.Term);
    AttachTerminal(S, prompt, a.Term);
    if (a.Command == "info") return RunInfo(S, a);
    return RunOperation(S, a);
  } catch (const TUsageError& e) {
    std::fprintf(stderr, "torvel %s: %s\n(see torvel --help)\n", argv[1], e.Text.c_str());
    return 2;
  }
}
