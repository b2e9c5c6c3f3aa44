#include "engine/setup.h"

#include <cfenv>
#include <cmath>

#include "engine/utils.h"

std::string GetOutputFolder(const std::string& ChosenFolder, const std::string& FileName) {
  std::string folder = !ChosenFolder.empty() && FolderExists(ChosenFolder) ? ChosenFolder : FolderOf(FileName);
  if (folder.empty()) return folder;
  if (folder.back() != '/') folder += '/';
  return folder;
}

bool CheckInputLimits(TTorvel& S) {
  if (!S.InInfo.ImageIsOk) return false;
  if (S.InInfo.Width == 0 || S.InInfo.Height == 0) {
    DoShowError(S, "Image dimension can't be = 0");
    S.InInfo.ImageIsOk = false;
  }
  if (S.InInfo.Width > MaxInputDimension || S.InInfo.Height > MaxInputDimension) {
    DoShowError(S, "Image dimensions exceed internal limits");
    S.InInfo.ImageIsOk = false;
  }
  return S.InInfo.ImageIsOk;
}

std::string CropCheckMessage(uint32_t Width, uint32_t Height, int64_t X, int64_t Y, int64_t W, int64_t H) {
  const int64_t width = Width, height = Height;
  if (X > width - 1) return "X must >= 0 and < " + std::to_string(width);
  if (Y > height - 1) return "Y must >= 0 and < " + std::to_string(height);
  if (X + W > width) return "Width must > 0 and <= " + std::to_string(width - X);
  if (Y + H > height) return "Height must > 0 and <= " + std::to_string(height - Y);
  return {};
}

void CropFile(TTorvel& S, int32_t X, int32_t Y, int32_t W, int32_t H, const std::string& OutDir) {
  const std::string refusal = CropCheckMessage(S.InInfo.Width, S.InInfo.Height, X, Y, W, H);
  if (!refusal.empty()) {
    FailRun(S, refusal);
    return;
  }
  ConvertFile(S, X, Y, W, H, OutDir, "");
}

uint32_t TileCount(uint32_t total, uint32_t tile) { return tile == 0 ? 0 : total / tile + (total % tile != 0); }

uint32_t FitSplitTile(uint32_t requested, uint32_t imageSide) {
  if (requested > imageSide) requested = imageSide;
  if (requested > MaxSplitTile) requested = MaxSplitTile;
  return requested;
}

std::string MergeCountMessage(int64_t N, size_t FileCount) {
  const int64_t count = static_cast<int64_t>(FileCount);
  if (N > count) return "One or more files are missing.\r\nPlease select " + std::to_string(N) + " files";
  if (N < count) return "Too many files selected.\r\nPlease select " + std::to_string(N) + " files";
  return {};
}

void MergeTiles(TTorvel& S, uint32_t TilesX, uint32_t TilesY, const std::vector<std::string>& Files,
                const std::string& OutDir) {
  if (Files.empty()) {
    S.Abort = true;
    return;
  }
  const std::string refusal = MergeCountMessage(int64_t{TilesX} * TilesY, Files.size());
  if (!refusal.empty()) {
    FailRun(S, refusal);
    return;
  }
  MergeFiles(S, TilesX, TilesY, Files, OutDir, "");
}

void ExtractTileXY(const std::string& FileName, int32_t& X, int32_t& Y) {
  const int64_t n = static_cast<int64_t>(FileName.size());
  int64_t p = n - 8;
  for (; p >= 0; --p) {
    if (FileName[p] == '_' && (FileName[p + 1] == 'X' || FileName[p + 1] == 'x')) break;
  }
  if (p < 0) return;
  int64_t i = p + 2;
  std::string xs, ys;
  for (; i < n - 1 && FileName[i] != 'Y' && FileName[i] != 'y'; ++i) xs += FileName[i];
  if (i < n - 1) ++i;
  for (; i < n - 1 && FileName[i] != '.'; ++i) ys += FileName[i];
  X = SafeStrToInt(xs);
  Y = SafeStrToInt(ys);
}

bool IsSupportedExt(const std::string& Ext) {
  return Ext == ".TIF" || Ext == ".TIFF" || Ext == ".KRO" || Ext == ".RAW" || Ext == ".RGB";
}

TMergeGrid DeriveMergeGrid(const std::vector<std::string>& Files) {
  TMergeGrid g;
  if (Files.empty()) {
    g.Message = "Can't merge the selected files";
    return g;
  }
  const std::string ref = UpperCase(ExtractFileExt(Files[0]));
  int32_t maxX = 0, maxY = 0, x = 0, y = 0;
  for (const std::string& f : Files) {
    if (UpperCase(ExtractFileExt(f)) != ref) {
      g.Message = "You can't select two different type of files";
      return g;
    }
    ExtractTileXY(FileNameOf(f), x, y);
    if (x > maxX) maxX = x;
    if (y > maxY) maxY = y;
  }
  const int64_t product = int64_t{maxX} * maxY;
  if (product == static_cast<int64_t>(Files.size())) {
    g.Ok = true;
    g.Cols = maxX;
    g.Rows = maxY;
    g.Message = std::to_string(Files.size()) + " files selected";
  } else if (product <= 0) {
    g.Message = "Can't merge the selected files";
  } else {
    g.Message = "The number of selected files must be : " + std::to_string(product);
  }
  return g;
}

int64_t ResizeHeight(uint32_t Width, uint32_t Height, uint32_t NewWidth) {
  const double ratio = static_cast<double>(Width) / static_cast<double>(NewWidth);
  const long double h = static_cast<long double>(Height) / static_cast<long double>(ratio);
  // nearbyintl rounds halfway cases to even in the default rounding mode.
  return static_cast<int64_t>(std::nearbyintl(h));
}
