#include "engine/utils.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace {
std::mutex g_hookMutex;
std::function<int64_t(const std::string&)> g_diskFreeHook;
}  // namespace

std::string PixelCountText(int64_t Value) {
  static const char* const Units[] = {"Pixels",     "Kilopixels", "Megapixels", "Gigapixels",
                                      "Terapixels", "Petapixels", "Exapixels"};
  double v = static_cast<double>(Value);
  int u = 0;
  while (v >= 1000) {
    v /= 1000;
    ++u;
  }
  if (u > 6) return "too large";
  // %f follows the user's locale for the decimal separator, as the panel should.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f %s", v, Units[u]);
  return buf;
}

std::string DotThousands(int64_t Value) {
  std::string s = std::to_string(Value);
  for (size_t group : {3u, 7u, 11u, 15u}) {
    if (s.size() > group) s.insert(s.size() - group, ".");
  }
  return s;
}

uint32_t SwapBytes32(uint32_t Value) {
  return (Value >> 24) | ((Value >> 8) & 0xFF00u) | ((Value << 8) & 0xFF0000u) | (Value << 24);
}

int32_t SafeStrToInt(const std::string& Text) {
  size_t i = 0, n = Text.size();
  while (i < n && Text[i] == ' ') ++i;
  bool neg = false;
  if (i < n && (Text[i] == '+' || Text[i] == '-')) {
    neg = Text[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < n && Text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  } else if (i < n && (Text[i] == 'x' || Text[i] == 'X')) {
    base = 16;
    ++i;
  }
  if (i >= n) return 0;
  int64_t v = 0;
  for (; i < n; ++i) {
    int d;
    char c = Text[i];
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return 0;
    v = v * base + d;
    if (v > 2147483648LL) return 0;
  }
  if (neg) v = -v;
  if (v > 2147483647LL || v < -2147483648LL) return 0;
  return static_cast<int32_t>(v);
}

int64_t GetFileSize64(const std::string& Path) {
  struct stat st;
  if (Path.empty() || ::stat(Path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void SetDiskFreeHookForTests(std::function<int64_t(const std::string&)> hook) {
  std::lock_guard<std::mutex> lock(g_hookMutex);
  g_diskFreeHook = std::move(hook);
}

int64_t DiskFreeBytes(const std::string& Dir) {
  {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    if (g_diskFreeHook) return g_diskFreeHook(Dir);
  }
  struct statvfs vs;
  if (Dir.empty() || ::statvfs(Dir.c_str(), &vs) != 0) return 0;
  return static_cast<int64_t>(vs.f_bavail) * static_cast<int64_t>(vs.f_frsize);
}

bool FileExists(const std::string& Path) {
  struct stat st;
  return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& Path) {
  struct stat st;
  return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DeleteFileIfExists(const std::string& Path) { return ::unlink(Path.c_str()) == 0; }

bool SameFile(const std::string& A, const std::string& B) {
  std::error_code ec;
  bool same = std::filesystem::equivalent(A, B, ec);
  return !ec && same;
}

std::string FolderOf(const std::string& Path) {
  size_t p = Path.rfind('/');
  return p == std::string::npos ? std::string() : Path.substr(0, p + 1);
}

std::string FileNameOf(const std::string& Path) {
  size_t p = Path.rfind('/');
  return p == std::string::npos ? Path : Path.substr(p + 1);
}

std::string ExtractFileExt(const std::string& Path) {
  std::string name = FileNameOf(Path);
  size_t p = name.rfind('.');
  return p == std::string::npos ? std::string() : name.substr(p);
}

std::string UpperCase(std::string Text) {
  for (char& c : Text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return Text;
}
