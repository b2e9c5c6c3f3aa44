// The update check: one HTTP GET in a worker thread; the first line of the
// reply is the latest version, compared with ours without regard to case.
#pragma once

#include <memory>
#include <string>
#include <thread>

namespace torvel {

// The vendor's endpoint; the environment variable TORVEL_UPDATE_URL points
// the window at a mirror or a test server instead.
inline constexpr const char* defaultUpdateEndpoint = "http://update.torveltools.example/";
inline constexpr const char* updateEndpointVariable = "TORVEL_UPDATE_URL";

enum class UpdateOutcome { Pending, NewVersion, UpToDate, Failed };

// TORVEL_UPDATE_URL when set (with a closing '/'), else the vendor's endpoint.
std::string updateEndpoint();
inline constexpr const char* updateUserAgent = "Mozilla/5.0 (Windows; U; Windows NT 6.0; it;rv:1.8.1.12";

class UpdateCheck {
 public:
  UpdateCheck();
  // Stops a request under way and waits for its thread, which wakes at once:
  // closing never waits for the network, and no thread outlives the check.
  ~UpdateCheck();
  UpdateCheck(const UpdateCheck&) = delete;
  UpdateCheck& operator=(const UpdateCheck&) = delete;

  void start();
  bool finished() const;
  // A transport error, an HTTP error or a reply that names no version: Failed.
  UpdateOutcome outcome() const;

  std::string currentVersion;
  std::string endpoint = defaultUpdateEndpoint;  // ends in '/'
  std::string clientId;
  long connectTimeoutSeconds = 5;
  long timeoutSeconds = 10;

  struct State;

 private:
  std::shared_ptr<State> state_;
  std::thread thread_;
};

// Whether the reply's first line reads as a version: 1 to 40 letters, digits,
// dots, dashes, underscores or spaces.
bool replyIsReadable(const std::string& body);
// Whether the reply names another version than `current` (false for an
// empty reply or an empty first line).
bool replyNamesNewVersion(const std::string& body, const std::string& current);

}  // namespace torvel
