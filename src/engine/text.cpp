#include "engine/text.h"

#include <cctype>
#include <cstdio>

namespace torvel {

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

std::string upperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string byteSizeText(uint64_t bytes) {
  static const char* const units[] = {"kB", "MB", "GB", "TB", "PB"};
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  double v = static_cast<double>(bytes) / 1024;
  int u = 0;
  while (v >= 1024 && u < 4) {
    v /= 1024;
    ++u;
  }
  char text[32];
  std::snprintf(text, sizeof text, v < 10 ? "%.2f %s" : v < 100 ? "%.1f %s" : "%.0f %s", v, units[u]);
  return text;
}

std::string notEnoughMemoryFor(const std::string& what, uint64_t bytes) {
  return "Not enough memory to hold " + what + " (" + byteSizeText(bytes) + ")";
}

}  // namespace torvel
