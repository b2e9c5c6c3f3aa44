// The engine's prompt and events for a terminal: messages on stderr, the
// overwrite question answered by --yes, the RAW size by --raw-size/--bits,
// a progress bar when stderr is a terminal, and SIGINT/SIGTERM as Abort.
#pragma once

#include <cstdint>
#include <string>

#include "engine/torvel.h"

struct TTerminalOptions {
  bool Yes = false;
  bool Quiet = false;
  bool Verbose = false;
  uint32_t RawWidth = 0;  // 0: not given
  uint32_t RawHeight = 0;
  int RawBits = 0;  // 0: not given
};

class TTerminalPrompt : public TPrompt {
 public:
  explicit TTerminalPrompt(const TTerminalOptions& opts) : opts_(opts) {}
  void Message(const std::string& text) override;
  void Error(const std::string& text) override;
  bool AskYesNo(const std::string& question) override;
  bool AskRawGeometry(int64_t fileSize, uint32_t& width, uint32_t& height, int& bits) override;

 private:
  TTerminalOptions opts_;
};

// Wires the five events of S to the terminal and installs the signal handlers.
void AttachTerminal(TTorvel& S, TTerminalPrompt& prompt, const TTerminalOptions& opts);
// True once SIGINT or SIGTERM arrived.
bool Interrupted();
// Prints a message line on stderr, clearing a progress bar first.
void PrintError(const std::string& text);
