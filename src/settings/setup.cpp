#include "settings/setup.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine/utils.h"

namespace {

std::string AfterEquals(const std::string& Line, bool& found) {
  size_t eq = Line.find('=');
  found = eq != std::string::npos;
  return found ? Line.substr(eq + 1) : std::string();
}

}  // namespace

int32_t GetIntValue(const std::string& Line) {
  bool found;
  std::string v = AfterEquals(Line, found);
  if (!found) return 0;
  // Decimal only, with an optional sign and leading blanks.
  size_t i = 0;
  while (i < v.size() && v[i] == ' ') ++i;
  size_t digits = i + (i < v.size() && (v[i] == '+' || v[i] == '-'));
  if (digits >= v.size()) return 0;
  for (size_t k = digits; k < v.size(); ++k)
    if (!std::isdigit(static_cast<unsigned char>(v[k]))) return 0;
  return SafeStrToInt(v.substr(i));
}

bool GetBoolValue(const std::string& Line) {
  bool found;
  std::string v = AfterEquals(Line, found);
  if (!found) return false;
  size_t a = v.find_first_not_of(" \t"), b = v.find_last_not_of(" \t");
  if (a == std::string::npos) return false;
  return UpperCase(v.substr(a, b - a + 1)) == "TRUE";
}

TSettingsValues TSetup::Load() {
  Lines.clear();
  TSettingsValues v;
  if (!FileExists(IniFileName)) return v;  // first start: the defaults
  std::ifstream in(IniFileName, std::ios::binary);
  if (!in) return v;  // unreadable: as if there were none
  v = {0, 0, false};
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Lines.push_back(line);
    const std::string U = UpperCase(line);
    if (U.rfind("WINDOWPOSX", 0) == 0) v.WindowPosX = GetIntValue(U);
    if (U.rfind("WINDOWPOSY", 0) == 0) v.WindowPosY = GetIntValue(U);
    if (U.rfind("CHECKFORUPDATES", 0) == 0) v.CheckForUpdates = GetBoolValue(U);
  }
  return v;
}

bool TSetup::Save(const TSettingsValues& Values) {
  Lines = {"WindowPosX=" + std::to_string(Values.WindowPosX), "WindowPosY=" + std::to_string(Values.WindowPosY),
           std::string("CheckForUpdates=") + (Values.CheckForUpdates ? "True" : "False")};
  std::error_code ec;
  std::filesystem::create_directories(FolderOf(IniFileName), ec);
  std::ofstream out(IniFileName, std::ios::binary | std::ios::trunc);
  for (const std::string& l : Lines) out << l << "\r\n";
  out.flush();
  return static_cast<bool>(out);
}

std::string SettingsPath(const std::string& ExePath) {
  const std::string beside = ExePath + ".ini";
  const std::string dir = FolderOf(ExePath);
  // An existing file we may write, or a folder we may create it in.
  if (FileExists(beside) ? ::access(beside.c_str(), W_OK) == 0 : (!dir.empty() && ::access(dir.c_str(), W_OK) == 0))
    return beside;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base = xdg && *xdg ? xdg : std::string(std::getenv("HOME") ? std::getenv("HOME") : "") + "/.config";
  return base + "/torvel-tools/torvel-tools.ini";
}
