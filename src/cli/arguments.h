// The command line as the commands see it: the command, its positional
// arguments and its options.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace torvel::cli {

// A command line that cannot be run: exit status 2.
struct UsageError {
  std::string text;
};

struct Arguments {
  std::string command;
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // options with a value
  bool yes = false, quiet = false, verbose = false, fast = false, help = false, json = false;
  bool lossless = false, pyramid = false, tiled = false, slow = false;
  bool skipBlank = false, zip = false, noViewer = false;  // torvel pyramid
  bool recursive = false, keepGoing = false;              // batches
  uint32_t jobs = 1;
  uint32_t tileSide = 0;  // --tiled N; 0 when not given a side
  uint32_t rawWidth = 0, rawHeight = 0;  // --raw-size; 0 when not given
  int rawBits = 0;                       // --bits; 0 when not given

  bool has(const std::string& option) const { return values.count(option) != 0; }
  const std::string& value(const std::string& option) const { return values.at(option); }
};

// Reads argv[1..]; throws UsageError.
Arguments parseArguments(int argc, char** argv);
// A whole non-negative number below 2^31, or a usage error naming `what`.
uint32_t parseCount(const std::string& text, const std::string& what);
// "AxB" (or "AXB") into two counts.
void parsePair(const std::string& text, const std::string& what, uint32_t& a, uint32_t& b);

}  // namespace torvel::cli
