#include "cli/terminal.h"

#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <thread>

#include "engine/runtexts.h"

namespace torvel::cli {

namespace {

bool barShown = false;

void clearBar() {
  if (!barShown) return;
  std::fputs("\r\033[K", stderr);
  barShown = false;
}

}  // namespace

void printError(const std::string& text) {
  clearBar();
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}

TerminalObserver::TerminalObserver(const Arguments& args)
    : bar_(!args.quiet && ::isatty(STDERR_FILENO)), verbose_(args.verbose) {}

void TerminalObserver::note(const std::string& text) { printError(text); }

namespace {

// The width of the terminal stderr writes to; 80 when it cannot be told.
int terminalColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace

std::string progressLine(int columns, int percent, const std::string& speed, const std::string& left,
                         const std::string& caption) {
  // The line stays a column short of the width, so the terminal never wraps it.
  const int room = columns - 1;
  std::string tail = "] " + std::string(percent < 10 ? "  " : percent < 100 ? " " : "") + std::to_string(percent) + "%";
  for (const std::string& part : {speed, left, caption}) {
    if (part.empty() || static_cast<int>(tail.size() + 2 + part.size()) > room - 11) break;  // a bar of 10 at least
    tail += "  " + part;
  }
  const int width = std::clamp(room - 1 - static_cast<int>(tail.size()), 0, 40);
  std::string bar = "[";
  for (int i = 0; i < width; ++i) bar += i < percent * width / 100 ? '#' : '.';
  return (bar + tail).substr(0, static_cast<size_t>(std::max(room, 0)));
}

void TerminalObserver::phaseStarted(const PhaseStart& phase) {
  phase_ = phase;
  caption_ = captionText(phase);
  lastPercent_ = -1;
  lastDrawn_ = {};
  throughput_.start();
  drawBar(0);
}

void TerminalObserver::progressed(const Progress& progress) {
  if (verbose_) {
    const std::string text = statusText(phase_, progress);
    if (!text.empty()) printError(text);
  }
  drawBar(progress.done);
}

// "[####....]  42%  120.5 MB/s  0:12 left  Step 2/4": the speed is what the
// process reads, the time left follows from the share done so far.
void TerminalObserver::drawBar(int64_t position) {
  const int64_t total = phase_.total;
  if (!bar_ || total <= 0) return;
  const int percent = static_cast<int>(std::min<int64_t>(position * 100 / total, 100));
  const auto now = std::chrono::steady_clock::now();
  if (percent == lastPercent_ && now - lastDrawn_ < std::chrono::milliseconds(500)) return;
  lastPercent_ = percent;
  lastDrawn_ = now;
  const double done = double(std::min(position, total)) / double(total);
  const std::string line =
      progressLine(terminalColumns(), percent, throughput_.speedText(), throughput_.leftText(done), caption_);
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  barShown = true;
}

void TerminalObserver::phaseEnded() { clearBar(); }

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
