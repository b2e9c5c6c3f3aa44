#include "settings/settingsfile.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine/files.h"

namespace torvel {

namespace {

std::string afterEquals(const std::string& line, bool& found) {
  const size_t eq = line.find('=');
  found = eq != std::string::npos;
  return found ? line.substr(eq + 1) : std::string();
}

}  // namespace

int32_t settingIntValue(const std::string& line) {
  bool found;
  const std::string v = afterEquals(line, found);
  if (!found) return 0;
  // Decimal only, with an optional sign and leading blanks.
  size_t i = 0;
  while (i < v.size() && v[i] == ' ') ++i;
  const size_t digits = i + (i < v.size() && (v[i] == '+' || v[i] == '-'));
  if (digits >= v.size()) return 0;
  for (size_t k = digits; k < v.size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>(v[k]))) return 0;
  return safeStrToInt(v.substr(i));
}

bool settingBoolValue(const std::string& line) {
  bool found;
  const std::string v = afterEquals(line, found);
  if (!found) return false;
  const size_t a = v.find_first_not_of(" \t"), b = v.find_last_not_of(" \t");
  if (a == std::string::npos) return false;
  return upperCase(v.substr(a, b - a + 1)) == "TRUE";
}

Settings SettingsFile::load() const {
  Settings s;
  if (!fileExists(path_)) return s;  // first start: the defaults
  std::ifstream in(path_, std::ios::binary);
  if (!in) return s;  // unreadable: as if there were none
  s = {0, 0, false};
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string upper = upperCase(line);
    // Keys are matched by their beginning; a later line wins.
    if (upper.rfind("WINDOWPOSX", 0) == 0) s.windowX = settingIntValue(upper);
    if (upper.rfind("WINDOWPOSY", 0) == 0) s.windowY = settingIntValue(upper);
    if (upper.rfind("CHECKFORUPDATES", 0) == 0) s.checkForUpdates = settingBoolValue(upper);
  }
  return s;
}

bool SettingsFile::save(const Settings& settings) const {
  std::error_code ec;
  std::filesystem::create_directories(folderOf(path_), ec);
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  out << "WindowPosX=" << settings.windowX << "\r\n"
      << "WindowPosY=" << settings.windowY << "\r\n"
      << "CheckForUpdates=" << (settings.checkForUpdates ? "True" : "False") << "\r\n";
  out.flush();
  return static_cast<bool>(out);
}

std::string settingsPath(const std::string& executablePath) {
  const std::string beside = executablePath + ".ini";
  const std::string dir = folderOf(executablePath);
  // An existing file we may write, or a folder we may create it in.
  if (fileExists(beside) ? ::access(beside.c_str(), W_OK) == 0 : (!dir.empty() && ::access(dir.c_str(), W_OK) == 0))
    return beside;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const std::string base = xdg && *xdg ? xdg : std::string(home ? home : "") + "/.config";
  return base + "/torvel-tools/torvel-tools.ini";
}

}  // namespace torvel
