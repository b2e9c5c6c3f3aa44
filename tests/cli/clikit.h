// Running torvel as a child process in the command-line tests.
#pragma once

#include <string>
#include <vector>

namespace clikit {

struct Result {
  int status = -1;  // the exit status, -1 when a signal ended it
  std::string out, err;
  long peakKb = 0;  // the child's peak resident memory
};

// Runs torvel with `args`. With `signalToSend`, sends it once the child has
// written at least `waitBytes` bytes of stderr.
Result runTorvel(const std::vector<std::string>& args, size_t waitBytes = 0, int signalToSend = 0);

// A sanitized torvel keeps freed memory aside to catch its reuse, which a
// bound on the resident memory would count: off for the runs measured while
// one of these lives. (A child's peak also counts what its parent held when
// it forked: tests that measure keep large data out of the test process.)
struct FreedMemoryReturned {
  FreedMemoryReturned();
  ~FreedMemoryReturned();
  std::string before;
};

}  // namespace clikit
