// The engine's runs on a terminal: messages on stderr, a progress bar when
// stderr is a terminal, status texts with --verbose, and SIGINT or SIGTERM
// as a cancel.
#pragma once

#include <chrono>
#include <cstdint>
#include <stop_token>
#include <string>

#include "cli/arguments.h"
#include "engine/run.h"
#include "engine/throughput.h"

namespace torvel::cli {

class TerminalObserver : public RunObserver {
 public:
  explicit TerminalObserver(const Arguments& args);
  void phaseStarted(const PhaseStart& phase) override;
  void progressed(const Progress& progress) override;
  void phaseEnded() override;
  void note(const std::string& text) override;

 private:
  void drawBar(int64_t done);
  bool bar_ = false, verbose_ = false;
  PhaseStart phase_;
  int lastPercent_ = -1;
  std::string caption_;
  std::chrono::steady_clock::time_point lastDrawn_;
  Throughput throughput_;
};

// From now on SIGINT and SIGTERM request a stop through the returned token.
std::stop_token cancelOnSignals();

// "[####....]  42%  120.5 MB/s  0:12 left  Step 2/4" within `columns` - 1
// characters: the bar narrows first, then the caption, the time left and the
// speed go.
std::string progressLine(int columns, int percent, const std::string& speed, const std::string& left,
                         const std::string& caption);
// Prints a message line on stderr, clearing a progress bar first.
void printError(const std::string& text);

}  // namespace torvel::cli
