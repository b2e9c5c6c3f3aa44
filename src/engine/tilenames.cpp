#include "engine/tilenames.h"

#include "engine/files.h"

namespace torvel {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Index just past the last folder separator; '/' is our only separator, but a
// name may still carry a drive-style colon from elsewhere.
size_t namePartStart(const std::string& s) {
  const size_t p = s.find_last_of("/:");
  return p == std::string::npos ? 0 : p + 1;
}

// The rightmost candidate p with s[p] == '_' and `second(s[p+1])` and s[p+2]
// a digit when `digitThird`; npos when none. Only three characters or more
// can hold a suffix.
template <class Pred>
size_t rightmostCandidate(const std::string& s, Pred second, bool digitThird) {
  if (s.size() < 3) return std::string::npos;
  for (size_t p = s.size() - 2; p-- > 0;) {
    if (s[p] == '_' && second(s[p + 1]) && (!digitThird || isDigit(s[p + 2]))) return p;
  }
  return std::string::npos;
}

// Cuts s at p when the upper-cased text from p (at most 100 characters, then
// a '.') holds `letter` followed by a digit.
void cutIfSuffix(std::string& s, size_t p, char letter) {
  const std::string t = upperCase(s.substr(p, 100)) + ".";
  const size_t q = t.find(letter);
  if (q != std::string::npos && q + 1 < t.size() && isDigit(t[q + 1])) s.erase(p);
}

}  // namespace

void parseTileName(const std::string& path, std::string& baseName, std::string& ext) {
  std::string s = path;
  const size_t dot = s.rfind('.');
  ext.clear();
  if (dot != std::string::npos && dot >= namePartStart(s)) {
    ext = s.substr(dot + 1);
    s.erase(dot);
  }
  const size_t dot2 = s.rfind('.');
  if (dot2 != std::string::npos && dot2 >= namePartStart(s) && upperCase(s.substr(dot2)) == ".BIG") {
    s.erase(dot2);
    ext = "big." + ext;
  }
  size_t p = rightmostCandidate(s, [](char c) { return c == 'X' || c == 'x'; }, true);
  if (p != std::string::npos) cutIfSuffix(s, p, 'Y');
  p = rightmostCandidate(s, isDigit, false);
  if (p != std::string::npos) cutIfSuffix(s, p, 'X');
  baseName = s.substr(namePartStart(s));
}

std::string tileBaseName(const std::string& path) {
  std::string base, ext;
  parseTileName(path, base, ext);
  return base;
}

void parseTileSize(const std::string& path, int32_t& width, int32_t& height) {
  width = 0;
  height = 0;
  const std::string base = tileBaseName(path);
  if (base.empty()) return;
  std::string rest = path.substr(namePartStart(path));
  if (rest.size() <= base.size() + 1) return;
  rest.erase(0, base.size() + 1);
  const size_t x = upperCase(rest).find('X');
  if (x == std::string::npos || x < 1) return;
  width = safeStrToInt(rest.substr(0, x));
  rest.erase(0, x + 1);
  size_t end = rest.find('_');
  if (end == std::string::npos || end < 1) {
    end = rest.find('.');
    if (end == std::string::npos) return;
  }
  height = safeStrToInt(rest.substr(0, end));
}

void parseTilePos(const std::string& path, int32_t& column, int32_t& row) {
  std::string s = path;
  const size_t u = s.rfind('_');
  if (u != std::string::npos) s.erase(0, u + 1);
  column = 0;
  row = 0;
  const std::string upper = upperCase(s);
  if (upper.empty() || upper[0] != 'X') return;
  const size_t y = upper.find('Y');
  if (y == std::string::npos) return;
  column = safeStrToInt(s.substr(1, y - 1));
  s.erase(0, y + 1);
  const size_t dot = s.find('.');
  if (dot == std::string::npos) return;
  row = safeStrToInt(s.substr(0, dot));
}

std::string sizedName(const std::string& base, uint64_t width, uint64_t height) {
  return base + "_" + std::to_string(width) + "X" + std::to_string(height);
}

std::string tileName(const std::string& base, uint64_t width, uint64_t height, uint32_t column, uint32_t row) {
  return sizedName(base, width, height) + "_x" + std::to_string(column) + "y" + std::to_string(row);
}

TileIndex::TileIndex(const std::vector<std::string>& files) : files_(files) {
  upper_.reserve(files.size());
  for (const std::string& f : files) upper_.push_back(upperCase(f));
  if (!files.empty()) {
    std::string base;
    parseTileName(files[0], base, ext_);
    ext_ = upperCase(ext_);
  }
}

std::string TileIndex::find(uint32_t column, uint32_t row) const {
  const std::string key = "_X" + std::to_string(column) + "Y" + std::to_string(row) + "." + ext_;
  for (size_t i = 0; i < upper_.size(); ++i)
    if (upper_[i].find(key) != std::string::npos) return files_[i];
  return {};
}

void extractTileXY(const std::string& name, int32_t& column, int32_t& row) {
  const int64_t n = static_cast<int64_t>(name.size());
  int64_t p = n - 8;
  while (p >= 0 && !(name[p] == '_' && (name[p + 1] == 'X' || name[p + 1] == 'x'))) --p;
  if (p < 0) return;
  int64_t i = p + 2;
  std::string columnText, rowText;
  for (; i < n - 1 && name[i] != 'Y' && name[i] != 'y'; ++i) columnText += name[i];
  if (i < n - 1) ++i;
  for (; i < n - 1 && name[i] != '.'; ++i) rowText += name[i];
  column = safeStrToInt(columnText);
  row = safeStrToInt(rowText);
}

MergeGrid mergeGridOf(const std::vector<std::string>& files) {
  MergeGrid g;
  if (files.empty()) {
    g.message = "Can't merge the selected files";
    return g;
  }
  const std::string kind = upperCase(extensionOf(files[0]));
  int32_t maxColumn = 0, maxRow = 0, column = 0, row = 0;
  for (const std::string& f : files) {
    if (upperCase(extensionOf(f)) != kind) {
      g.message = "You can't select two different type of files";
      return g;
    }
    extractTileXY(fileNameOf(f), column, row);
    maxColumn = std::max(maxColumn, column);
    maxRow = std::max(maxRow, row);
  }
  const int64_t product = int64_t{maxColumn} * maxRow;
  if (product == static_cast<int64_t>(files.size())) {
    g = {true, maxColumn, maxRow, std::to_string(files.size()) + " files selected"};
  } else if (product <= 0) {
    g.message = "Can't merge the selected files";
  } else {
    g.message = "The number of selected files must be : " + std::to_string(product);
  }
  return g;
}

}  // namespace torvel
