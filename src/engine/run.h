// What a run of an operation needs from whoever starts it, and what it hands
// back. The engine never talks to the user: the answers a run needs (the
// overwrite policy; the RAW geometry, given to the probe) come up front, its
// reports go out as typed events that can change nothing, a cancel request
// comes in through a token the caller owns, and the outcome is the run's
// return value with its reason.
#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace torvel {

enum class Outcome {
  Completed,  // the output is complete
  Declined,   // nothing written: an existing output was not to be replaced
  Refused,    // bad input or settings; nothing written
  Failed,     // an I/O error or a lack of resources
  Cancelled,  // the caller's token asked the run to stop
};

struct RunResult {
  Outcome outcome = Outcome::Completed;
  std::string message;               // why, when the run did not complete
  std::vector<std::string> written;  // the files the run leaves behind, in order
  bool completed() const { return outcome == Outcome::Completed; }
};

// A message with the reason behind it, when there is one: "Write to file
// error: No space left on device".
std::string withReason(const std::string& text, const std::string& reason);

// What a phase of a run does.
enum class Phase {
  Skipping,      // rows above a region, read and dropped (inputs read only in order)
  Copying,       // the rows of one output
  Splitting,     // rows cut into a band of tiles
  Merging,       // a band of tiles joined into rows
  ScalingTiles,  // a pass of the resize, tile by tile
  Scaling,       // the resize's last image scaled in one piece
  Stopping,      // cleaning up after a cancel
  Preview,       // the rows of a preview picture
  Tiling,        // the tiles of a pyramid, every level
};

struct PhaseStart {
  Phase phase = Phase::Copying;
  int64_t total = 0;         // the units it counts to: rows, or tiles
  int step = 0, steps = 0;   // its place among the steps of a run of several; 0 when alone
};

struct Progress {
  int64_t done = 0;                // units of the phase done
  int64_t rowsLeft = 0;            // rows left in the piece being written
  uint32_t piece = 0, pieces = 0;  // the band of tiles, or the tile, being worked on
};

// Reports of a running operation. They inform; nothing they do changes the run.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void phaseStarted(const PhaseStart& /*phase*/) {}
  virtual void progressed(const Progress& /*progress*/) {}
  virtual void phaseEnded() {}
  // Something the user should know that does not stop the run.
  virtual void note(const std::string& /*text*/) {}
};

// Whether a run may replace an output that exists already.
enum class Overwrite { Ask, Yes, No };

// The channels of one run. Without an observer reports go nowhere. With
// Overwrite::Ask, `askReplace` is called on the run's thread with the paths
// of existing outputs before a byte of them is written: once for a run of
// several outputs, with all of them; none answers No.
class RunContext {
 public:
  using ReplaceQuestion = std::function<bool(const std::vector<std::string>& paths)>;
  explicit RunContext(RunObserver* observer = nullptr, std::stop_token cancel = {}, Overwrite overwrite = Overwrite::No,
                      ReplaceQuestion askReplace = {});

  RunObserver& observer() const { return *observer_; }
  const std::stop_token& cancelToken() const { return cancel_; }
  bool cancelled() const { return cancel_.stop_requested(); }
  Overwrite overwrite() const { return overwrite_; }
  // Whether the existing output at `path` may be replaced.
  bool mayReplace(const std::string& path) const { return mayReplaceAll({path}); }
  // Whether all the existing outputs `paths` may be replaced: one question.
  bool mayReplaceAll(const std::vector<std::string>& paths) const;

  // The same answers and token with another observer (or none).
  RunContext withObserver(RunObserver* observer) const;
  // The same with the overwrite question answered: Yes once the user has said so for all.
  RunContext withOverwrite(Overwrite overwrite) const;

  // Ends a run the caller cancelled.
  static RunResult cancelledResult() { return {Outcome::Cancelled, "Operation aborted", {}}; }

 private:
  static RunObserver& silentObserver();
  RunObserver* observer_;
  std::stop_token cancel_;
  Overwrite overwrite_;
  ReplaceQuestion askReplace_;
};

}  // namespace torvel
