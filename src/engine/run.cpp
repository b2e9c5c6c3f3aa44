#include "engine/run.h"

namespace torvel {

std::string withReason(const std::string& text, const std::string& reason) {
  return reason.empty() ? text : text + ": " + reason;
}

RunContext::RunContext(RunObserver* observer, std::stop_token cancel, Overwrite overwrite, ReplaceQuestion askReplace)
    : observer_(observer ? observer : &silentObserver()), cancel_(std::move(cancel)), overwrite_(overwrite),
      askReplace_(std::move(askReplace)) {}

RunObserver& RunContext::silentObserver() {
  static RunObserver silent;
  return silent;
}

bool RunContext::mayReplaceAll(const std::vector<std::string>& paths) const {
  switch (overwrite_) {
    case Overwrite::Yes:
      return true;
    case Overwrite::No:
      return false;
    case Overwrite::Ask:
      break;
  }
  return askReplace_ && askReplace_(paths);
}

RunContext RunContext::withObserver(RunObserver* observer) const {
  return RunContext(observer, cancel_, overwrite_, askReplace_);
}

RunContext RunContext::withOverwrite(Overwrite overwrite) const {
  return RunContext(observer_, cancel_, overwrite, askReplace_);
}

}  // namespace torvel
