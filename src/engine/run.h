// What a run of an operation needs from whoever starts it, and what it hands
// back: reports go out through an observer that can change nothing, questions
// through a prompt, a cancel request comes in through a token the caller
// owns, and the outcome is the run's return value.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

namespace torvel {

enum class Outcome {
  Completed,  // the output is complete
  Declined,   // nothing written: the user answered No
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

// Reports of a running operation. They inform; nothing they do changes the run.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void status(const std::string& /*text*/) {}
  virtual void progressBegin(int64_t /*max*/, const std::string& /*caption*/) {}
  virtual void progress(int64_t /*position*/) {}
  virtual void progressEnd() {}
  // A failure the user must see.
  virtual void error(const std::string& /*text*/) {}
};

// What the engine shows or asks itself: message boxes and questions.
class Prompt {
 public:
  virtual ~Prompt() = default;
  virtual void message(const std::string& text) = 0;     // modal message box
  virtual void errorBox(const std::string& text) = 0;    // error box with an OK button
  virtual bool askYesNo(const std::string& question) = 0;
  // The RAW size question: the file size and what the name gave (0 when
  // nothing). False when the user cancels.
  virtual bool askRawGeometry(int64_t fileSize, uint32_t& width, uint32_t& height, int& bits) = 0;
};

// The channels of one run. Without an observer reports go nowhere; without
// a prompt nothing is shown and every question is answered No.
class RunContext {
 public:
  explicit RunContext(RunObserver* observer = nullptr, Prompt* prompt = nullptr, std::stop_token cancel = {})
      : observer_(observer ? observer : &silentObserver()), prompt_(prompt), cancel_(std::move(cancel)) {}

  RunObserver& observer() const { return *observer_; }
  Prompt* prompt() const { return prompt_; }
  const std::stop_token& cancelToken() const { return cancel_; }
  bool cancelled() const { return cancel_.stop_requested(); }

  void message(const std::string& text) const;
  void errorBox(const std::string& text) const;
  bool askYesNo(const std::string& question) const;

  // The same prompt and token with another observer (or none).
  RunContext withObserver(RunObserver* observer) const { return RunContext(observer, prompt_, cancel_); }

  // Ends a run: reports `text` as an error and returns it as the outcome.
  RunResult fail(Outcome outcome, const std::string& text) const;
  // Ends a run the caller cancelled.
  static RunResult cancelledResult() { return {Outcome::Cancelled, "Operation aborted", {}}; }

 private:
  static RunObserver& silentObserver();
  RunObserver* observer_;
  Prompt* prompt_;
  std::stop_token cancel_;
};

}  // namespace torvel
