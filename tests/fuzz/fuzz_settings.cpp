// Any bytes as a settings file, and as one of its lines.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "settings/settingsfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/torvel-fuzz-XXXXXX";
    if (!mkdtemp(dir.data())) std::abort();
    return dir + "/settings.ini";
  }();
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)torvel::settingIntValue(text);
  (void)torvel::settingBoolValue(text);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  (void)torvel::SettingsFile(path).load();
  return 0;
}
