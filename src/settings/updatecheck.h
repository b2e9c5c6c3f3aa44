// The update check: one HTTP GET in a worker thread; the first line of the
// reply is the latest version, compared with ours without regard to case.
#pragma once

#include <memory>
#include <string>

namespace torvel {

// The vendor's endpoint; tests point a check elsewhere.
inline constexpr const char* defaultUpdateEndpoint = "http://update.torveltools.example/";
inline constexpr const char* updateUserAgent = "Mozilla/5.0 (Windows; U; Windows NT 6.0; it;rv:1.8.1.12";

class UpdateCheck {
 public:
  UpdateCheck();
  ~UpdateCheck();  // detaches a worker still running: closing never waits
  UpdateCheck(const UpdateCheck&) = delete;
  UpdateCheck& operator=(const UpdateCheck&) = delete;

  void start();
  bool finished() const;
  bool newVersion() const;

  std::string currentVersion;
  std::string endpoint = defaultUpdateEndpoint;  // ends in '/'
  std::string clientId;
  long connectTimeoutSeconds = 5;
  long timeoutSeconds = 10;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// Whether the reply names another version than `current` (false for an
// empty reply or an empty first line).
bool replyNamesNewVersion(const std::string& body, const std::string& current);

}  // namespace torvel
