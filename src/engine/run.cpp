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

bool RunContext::mayReplace(const std::string& path) const {
  switch (overwrite_) {
    case Overwrite::Yes:
      return true;
    case Overwrite::No:
      return false;
    case Overwrite::Ask:
      break;
  }
  return askReplace_ && askReplace_(path);
}

RunContext RunContext::withObserver(RunObserver* observer) const {
  return RunContext(observer, cancel_, overwrite_, askReplace_);
}

}  // namespace torvel
