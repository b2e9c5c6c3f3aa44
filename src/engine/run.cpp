#include "engine/run.h"

namespace torvel {

std::string withReason(const std::string& text, const std::string& reason) {
  return reason.empty() ? text : text + ": " + reason;
}

RunObserver& RunContext::silentObserver() {
  static RunObserver silent;
  return silent;
}

void RunContext::message(const std::string& text) const {
  if (prompt_) prompt_->message(text);
}

void RunContext::errorBox(const std::string& text) const {
  if (prompt_) prompt_->errorBox(text);
}

bool RunContext::askYesNo(const std::string& question) const { return prompt_ && prompt_->askYesNo(question); }

RunResult RunContext::fail(Outcome outcome, const std::string& text) const {
  observer_->error(text);
  return {outcome, text, {}};
}

}  // namespace torvel
