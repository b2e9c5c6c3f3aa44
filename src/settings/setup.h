// The settings file: three key=value lines (window position, automatic
// update check), read once at start-up and written once at close.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TSettingsValues {
  int32_t WindowPosX = 400;
  int32_t WindowPosY = 100;
  bool CheckForUpdates = true;
};

class TSetup {
 public:
  explicit TSetup(std::string FileName) : IniFileName(std::move(FileName)) {}

  // Reads the file: the values it holds, the defaults of a first start when
  // there is none. A file that exists but cannot be read counts as missing.
  TSettingsValues Load();
  // Rewrites the file with the three lines; false when it cannot be written.
  bool Save(const TSettingsValues& Values);

  std::vector<std::string> Lines;
  std::string IniFileName;
};

int32_t GetIntValue(const std::string& Line);
bool GetBoolValue(const std::string& Line);

// Where the settings live: beside the executable (its path + ".ini") when
// that folder is writable, else under $XDG_CONFIG_HOME (or ~/.config).
std::string SettingsPath(const std::string& ExePath);
