#include "engine/files.h"

#include "engine/bytefile.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace torvel {

namespace {
std::mutex hookMutex;
std::function<int64_t(const std::string&)> diskFreeHook;
}  // namespace

std::string pixelCountText(int64_t value) {
  static const char* const units[] = {"Pixels",     "Kilopixels", "Megapixels", "Gigapixels",
                                      "Terapixels", "Petapixels", "Exapixels"};
  double v = static_cast<double>(value);
  int u = 0;
  while (v >= 1000) {
    v /= 1000;
    ++u;
  }
  if (u > 6) return "too large";
  // %f follows the user's locale for the decimal separator, as the panel should.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f %s", v, units[u]);
  return buf;
}

std::string dotThousands(int64_t value) {
  std::string s = std::to_string(value);
  for (size_t group : {3u, 7u, 11u, 15u}) {
    if (s.size() > group) s.insert(s.size() - group, ".");
  }
  return s;
}

uint32_t swapBytes32(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

namespace {

// The base a number is written in, and where its digits start.
int numberBase(const std::string& text, size_t& i) {
  const size_t n = text.size();
  if (i < n && text[i] == '$') {
    ++i;
    return 16;
  }
  if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    i += 2;
    return 16;
  }
  if (i < n && (text[i] == 'x' || text[i] == 'X')) {
    ++i;
    return 16;
  }
  return 10;
}

int digitValue(char c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int32_t safeStrToInt(const std::string& text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const int base = numberBase(text, i);
  if (i >= n) return 0;
  int64_t v = 0;
  for (; i < n; ++i) {
    const int d = digitValue(text[i], base);
    if (d < 0) return 0;
    v = v * base + d;
    if (v > 2147483648LL) return 0;
  }
  if (negative) v = -v;
  if (v > 2147483647LL) return 0;
  return static_cast<int32_t>(v);
}

int64_t fileSize(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void setDiskFreeHookForTests(std::function<int64_t(const std::string&)> hook) {
  std::lock_guard<std::mutex> lock(hookMutex);
  diskFreeHook = std::move(hook);
}

int64_t diskFreeBytes(const std::string& dir) {
  {
    std::lock_guard<std::mutex> lock(hookMutex);
    if (diskFreeHook) return diskFreeHook(dir);
  }
  struct statvfs vs;
  if (dir.empty() || ::statvfs(dir.c_str(), &vs) != 0) return 0;
  return static_cast<int64_t>(vs.f_bavail) * static_cast<int64_t>(vs.f_frsize);
}

bool fileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool folderExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  return !ec && same;
}

std::string folderOf(const std::string& path) {
  const size_t p = path.rfind('/');
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string fileNameOf(const std::string& path) {
  const size_t p = path.rfind('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string extensionOf(const std::string& path) {
  const std::string name = fileNameOf(path);
  const size_t p = name.rfind('.');
  return p == std::string::npos ? std::string() : name.substr(p);
}

std::string upperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string systemErrorText(int error) {
  return error == ByteFile::notRegularFile ? "not a regular file" : std::strerror(error);
}

}  // namespace torvel
