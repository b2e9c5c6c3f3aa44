// The engine's channels on a terminal: messages on stderr, the overwrite
// question answered by --yes, the RAW size by --raw-size and --bits, a
// progress bar when stderr is a terminal, and SIGINT or SIGTERM as a cancel.
#pragma once

#include <chrono>
#include <cstdint>
#include <stop_token>
#include <string>

#include "cli/arguments.h"
#include "engine/run.h"

namespace torvel::cli {

class TerminalPrompt : public Prompt {
 public:
  explicit TerminalPrompt(const Arguments& args) : args_(args) {}
  void message(const std::string& text) override;
  void errorBox(const std::string& text) override;
  bool askYesNo(const std::string& question) override;
  bool askRawGeometry(int64_t fileSize, uint32_t& width, uint32_t& height, int& bits) override;

 private:
  const Arguments& args_;
};

class TerminalObserver : public RunObserver {
 public:
  explicit TerminalObserver(const Arguments& args);
  void status(const std::string& text) override;
  void progressBegin(int64_t max, const std::string& caption) override;
  void progress(int64_t position) override;
  void progressEnd() override;
  void error(const std::string& text) override;

 private:
  bool bar_ = false, verbose_ = false;
  int64_t max_ = 0;
  int lastPercent_ = -1;
  std::string caption_;
  std::chrono::steady_clock::time_point started_, lastDrawn_;
  int64_t readAtStart_ = 0;
};

// From now on SIGINT and SIGTERM request a stop through the returned token.
std::stop_token cancelOnSignals();
// Prints a message line on stderr, clearing a progress bar first.
void printError(const std::string& text);

}  // namespace torvel::cli
