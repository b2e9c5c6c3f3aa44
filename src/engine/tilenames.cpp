#include "engine/tilenames.h"

#include "engine/utils.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Index just past the last folder separator; '/' is our only separator, but a
// name may still carry a drive-style colon from elsewhere.
size_t NamePartStart(const std::string& S) {
  size_t p = S.find_last_of("/:");
  return p == std::string::npos ? 0 : p + 1;
}

// The rightmost candidate p (0-based) with S[p] == '_' and `second(S[p+1])`
// and S[p+2] a digit when `digitThird`; npos when none. Candidates run from
// length-3 down to 0, as only three characters or more can hold a suffix.
template <class Pred>
size_t RightmostCandidate(const std::string& S, Pred second, bool digitThird) {
  if (S.size() < 3) return std::string::npos;
  for (size_t p = S.size() - 3 + 1; p-- > 0;) {
    if (S[p] == '_' && second(S[p + 1]) && (!digitThird || IsDigit(S[p + 2]))) return p;
  }
  return std::string::npos;
}

// Cuts S at p when the upper-cased text from p (at most 100 characters, then
// a '.') holds `letter` followed by a digit.
void CutIfSuffix(std::string& S, size_t p, char letter) {
  std::string T = UpperCase(S.substr(p, 100)) + ".";
  size_t q = T.find(letter);
  if (q != std::string::npos && q + 1 < T.size() && IsDigit(T[q + 1])) S.erase(p);
}

}  // namespace

void ParseTileName(const std::string& FileName, std::string& BaseName, std::string& Ext) {
  std::string S = FileName;
  size_t start = NamePartStart(S);
  size_t dot = S.rfind('.');
  Ext.clear();
  if (dot != std::string::npos && dot >= start) {
    Ext = S.substr(dot + 1);
    S.erase(dot);
  }
  size_t dot2 = S.rfind('.');
  if (dot2 != std::string::npos && dot2 >= NamePartStart(S) && UpperCase(S.substr(dot2)) == ".BIG") {
    S.erase(dot2);
    Ext = "big." + Ext;
  }
  size_t p = RightmostCandidate(S, [](char c) { return c == 'X' || c == 'x'; }, true);
  if (p != std::string::npos) CutIfSuffix(S, p, 'Y');
  p = RightmostCandidate(S, IsDigit, false);
  if (p != std::string::npos) CutIfSuffix(S, p, 'X');
  BaseName = S.substr(NamePartStart(S));
}

std::string TileBaseName(const std::string& FileName) {
  std::string base, ext;
  ParseTileName(FileName, base, ext);
  return base;
}

void ParseTileSize(const std::string& FileName, int32_t& Width, int32_t& Height) {
  Width = 0;
  Height = 0;
  std::string base = TileBaseName(FileName);
  if (base.empty()) return;
  std::string R = FileName.substr(NamePartStart(FileName));
  if (R.size() <= base.size() + 1) return;
  R.erase(0, base.size() + 1);
  size_t p = UpperCase(R).find('X');
  if (p == std::string::npos || p < 1) return;
  Width = SafeStrToInt(R.substr(0, p));
  R.erase(0, p + 1);
  size_t q = R.find('_');
  if (q == std::string::npos || q < 1) {
    q = R.find('.');
    if (q == std::string::npos) return;
  }
  Height = SafeStrToInt(R.substr(0, q));
}

void ParseTilePos(const std::string& FileName, int32_t& X, int32_t& Y) {
  std::string S = FileName;
  size_t u = S.rfind('_');
  if (u != std::string::npos) S.erase(0, u + 1);
  X = 0;
  Y = 0;
  std::string U = UpperCase(S);
  if (U.empty() || U[0] != 'X') return;
  size_t q = U.find('Y');
  if (q == std::string::npos) return;
  X = SafeStrToInt(S.substr(1, q - 1));
  S.erase(0, q + 1);
  size_t d = S.find('.');
  if (d == std::string::npos) return;
  Y = SafeStrToInt(S.substr(0, d));
}

TTileIndex::TTileIndex(const std::vector<std::string>& Files) : files_(Files) {
  upper_.reserve(Files.size());
  for (const std::string& f : Files) upper_.push_back(UpperCase(f));
  if (!Files.empty()) {
    std::string base;
    ParseTileName(Files[0], base, ext_);
    ext_ = UpperCase(ext_);
  }
}

std::string TTileIndex::Find(uint32_t X, uint32_t Y) const {
  const std::string key = "_X" + std::to_string(X) + "Y" + std::to_string(Y) + "." + ext_;
  for (size_t i = 0; i < upper_.size(); ++i)
    if (upper_[i].find(key) != std::string::npos) return files_[i];
  return {};
}

std::string FindTile(const std::vector<std::string>& Files, uint32_t X, uint32_t Y) {
  return TTileIndex(Files).Find(X, Y);
}
