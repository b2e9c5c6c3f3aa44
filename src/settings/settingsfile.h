// The settings file: three key=value lines (window position, automatic
// update check), read once at start-up and written once at close.
#pragma once

#include <cstdint>
#include <string>

namespace torvel {

struct Settings {
  int32_t windowX = 400;
  int32_t windowY = 100;
  bool checkForUpdates = true;
};

class SettingsFile {
 public:
  explicit SettingsFile(std::string path) : path_(std::move(path)) {}

  // The values the file holds; the defaults of a first start when there is
  // none. A file that exists but cannot be read counts as missing.
  Settings load() const;
  // Rewrites the file with the three lines; false when it cannot be written.
  bool save(const Settings& settings) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The value of a "Key=Value" line: a decimal integer (0 otherwise), or TRUE
// in any case (false otherwise).
int32_t settingIntValue(const std::string& line);
bool settingBoolValue(const std::string& line);

// Where the settings live: beside the executable (its path + ".ini") when
// that folder is writable, else under $XDG_CONFIG_HOME (or ~/.config).
std::string settingsPath(const std::string& executablePath);

}  // namespace torvel
