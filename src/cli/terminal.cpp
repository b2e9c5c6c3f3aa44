#include "cli/terminal.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
bool g_barShown = false;

void OnSignal(int) { g_interrupted = 1; }

void ClearBar() {
  if (g_barShown) {
    std::fputs("\r\033[K", stderr);
    g_barShown = false;
  }
}

// Multi-line texts ("...\r\nPlease select 9 files") read better on one line each.
std::string Lines(std::string text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

struct TBar {
  bool Enabled = false;
  int64_t Max = 0;
  int LastPercent = -1;
  std::string Caption;
} g_bar;

void DrawBar(int64_t current) {
  if (!g_bar.Enabled || g_bar.Max <= 0) return;
  int percent = static_cast<int>(current * 100 / g_bar.Max);
  if (percent > 100) percent = 100;
  if (percent == g_bar.LastPercent) return;
  g_bar.LastPercent = percent;
  char bar[41];
  int filled = percent * 40 / 100;
  for (int i = 0; i < 40; ++i) bar[i] = i < filled ? '#' : '.';
  bar[40] = 0;
  std::fprintf(stderr, "\r[%s] %3d%% %s", bar, percent, g_bar.Caption.c_str());
  std::fflush(stderr);
  g_barShown = true;
}

}  // namespace

bool Interrupted() { return g_interrupted != 0; }

void PrintError(const std::string& text) {
  ClearBar();
  std::fprintf(stderr, "%s\n", Lines(text).c_str());
  std::fflush(stderr);
}

void TTerminalPrompt::Message(const std::string& text) { PrintError(text); }

void TTerminalPrompt::Error(const std::string& text) { PrintError(text); }

bool TTerminalPrompt::AskYesNo(const std::string& question) {
  PrintError(question + (opts_.Yes ? " Yes (--yes)" : " No (use --yes to overwrite)"));
  return opts_.Yes;
}

bool TTerminalPrompt::AskRawGeometry(int64_t fileSize, uint32_t& width, uint32_t& height, int& bits) {
  if (opts_.RawWidth == 0 || opts_.RawHeight == 0) {
    PrintError("The size of this RAW file is not in its name: give it with --raw-size WxH [--bits 8|16]");
    return false;
  }
  const int64_t pixels = int64_t{opts_.RawWidth} * opts_.RawHeight;
  int chosen = opts_.RawBits;
  if (chosen == 0) chosen = pixels * 3 == fileSize ? 8 : pixels * 6 == fileSize ? 16 : 8;
  // Like the size dialog, accept only a geometry that fills the file exactly.
  if (pixels * (chosen == 16 ? 6 : 3) != fileSize) {
    PrintError("--raw-size " + std::to_string(opts_.RawWidth) + "x" + std::to_string(opts_.RawHeight) + " at " +
               std::to_string(chosen) + " bits does not match the file size of " + std::to_string(fileSize) +
               " bytes");
    return false;
  }
  width = opts_.RawWidth;
  height = opts_.RawHeight;
  bits = chosen;
  return true;
}

void AttachTerminal(TTorvel& S, TTerminalPrompt& prompt, const TTerminalOptions& opts) {
  S.Prompt = &prompt;
  struct sigaction sa = {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  g_bar.Enabled = !opts.Quiet && ::isatty(STDERR_FILENO);
  const bool verbose = opts.Verbose;
  TTorvel* rec = &S;
  S.OnShowError = [](const std::string& msg) { PrintError(msg); };
  S.OnShowStatus = [rec, verbose](const std::string& msg) {
    if (verbose && !msg.empty()) PrintError(msg);
    if (g_interrupted) rec->Abort = true;
  };
  S.OnShowProgress = [rec](int32_t max, const std::string& desc) {
    // As the window's progress start does, a new line loop clears Abort,
    // unless the user has already asked us to stop.
    rec->Abort = g_interrupted != 0;
    g_bar.Max = max;
    g_bar.Caption = desc;
    g_bar.LastPercent = -1;
    DrawBar(0);
  };
  S.OnUpdateProgress = [rec](int32_t current) {
    if (g_interrupted) rec->Abort = true;
    DrawBar(current);
  };
  S.OnHideProgress = [] { ClearBar(); };
}
