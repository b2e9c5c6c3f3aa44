// The update check: one HTTP GET in a worker thread; the first line of the
// reply is the latest version, compared with ours without regard to case.
#pragma once

#include <atomic>
#include <memory>
#include <string>

// The vendor's endpoint; tests point the worker elsewhere.
constexpr const char* DefaultUpdateEndpoint = "http://update.torveltools.example/";
constexpr const char* UpdateUserAgent = "Mozilla/5.0 (Windows; U; Windows NT 6.0; it;rv:1.8.1.12";

class TCheckVersion {
 public:
  TCheckVersion();
  ~TCheckVersion();  // detaches a worker still running: closing never waits
  TCheckVersion(const TCheckVersion&) = delete;
  TCheckVersion& operator=(const TCheckVersion&) = delete;

  void Start();
  bool Finished() const;
  bool NewVersion() const;

  std::string CurrVersion;
  std::string Endpoint = DefaultUpdateEndpoint;  // ends in '/'
  std::string ClientId;
  long ConnectTimeoutSeconds = 5;
  long TimeoutSeconds = 10;

  struct TState;

 private:
  std::shared_ptr<TState> state_;
};

// Whether the reply names another version than `current` (false for an
// empty reply or an empty first line).
bool ReplyNamesNewVersion(const std::string& body, const std::string& current);
