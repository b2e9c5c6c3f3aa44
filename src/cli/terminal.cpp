#include "cli/terminal.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <thread>

namespace torvel::cli {

namespace {

bool barShown = false;

void clearBar() {
  if (!barShown) return;
  std::fputs("\r\033[K", stderr);
  barShown = false;
}

// Texts of two lines ("...\r\nPlease select 9 files") read better as plain lines.
std::string plainLines(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

}  // namespace

void printError(const std::string& text) {
  clearBar();
  std::fprintf(stderr, "%s\n", plainLines(text).c_str());
  std::fflush(stderr);
}

void TerminalPrompt::message(const std::string& text) { printError(text); }

void TerminalPrompt::errorBox(const std::string& text) { printError(text); }

bool TerminalPrompt::askYesNo(const std::string& question) {
  printError(question + (args_.yes ? " Yes (--yes)" : " No (use --yes to overwrite)"));
  return args_.yes;
}

bool TerminalPrompt::askRawGeometry(int64_t fileSize, uint32_t& width, uint32_t& height, int& bits) {
  if (args_.rawWidth == 0 || args_.rawHeight == 0) {
    printError("The size of this RAW file is not in its name: give it with --raw-size WxH [--bits 8|16]");
    return false;
  }
  const int64_t pixels = int64_t{args_.rawWidth} * args_.rawHeight;  // both below 2^31
  if (pixels > INT64_MAX / 6) {
    printError("--raw-size " + std::to_string(args_.rawWidth) + "x" + std::to_string(args_.rawHeight) +
               " is too large: that many pixels cannot fit in a file");
    return false;
  }
  int chosen = args_.rawBits;
  if (chosen == 0) chosen = pixels * 3 == fileSize ? 8 : pixels * 6 == fileSize ? 16 : 8;
  // Like the size dialog, accept only a geometry that fills the file exactly.
  if (pixels * (chosen == 16 ? 6 : 3) != fileSize) {
    printError("--raw-size " + std::to_string(args_.rawWidth) + "x" + std::to_string(args_.rawHeight) + " at " +
               std::to_string(chosen) + " bits does not match the file size of " + std::to_string(fileSize) +
               " bytes");
    return false;
  }
  width = args_.rawWidth;
  height = args_.rawHeight;
  bits = chosen;
  return true;
}

TerminalObserver::TerminalObserver(const Arguments& args)
    : bar_(!args.quiet && ::isatty(STDERR_FILENO)), verbose_(args.verbose) {}

void TerminalObserver::status(const std::string& text) {
  if (verbose_ && !text.empty()) printError(text);
}

void TerminalObserver::progressBegin(int64_t max, const std::string& caption) {
  max_ = max;
  caption_ = caption;
  lastPercent_ = -1;
  progress(0);
}

void TerminalObserver::progress(int64_t position) {
  if (!bar_ || max_ <= 0) return;
  const int percent = static_cast<int>(std::min<int64_t>(position * 100 / max_, 100));
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  char bar[41];
  for (int i = 0; i < 40; ++i) bar[i] = i < percent * 40 / 100 ? '#' : '.';
  bar[40] = 0;
  std::fprintf(stderr, "\r[%s] %3d%% %s", bar, percent, caption_.c_str());
  std::fflush(stderr);
  barShown = true;
}

void TerminalObserver::progressEnd() { clearBar(); }

void TerminalObserver::error(const std::string& text) { printError(text); }

std::stop_token cancelOnSignals() {
  static std::stop_source source;
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  // Every thread started from here on inherits the mask; one thread takes the signals.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A second signal is the user insisting: leave at once.
  std::thread([signals] {
    int received = 0;
    sigwait(&signals, &received);
    source.request_stop();
    sigwait(&signals, &received);
    std::_Exit(128 + received);
  }).detach();
  return source.get_token();
}

}  // namespace torvel::cli
