// Split: one pass over the input, each line cut into the open tiles of the
// current row band.
#include <memory>

#include "engine/tilenames.h"
#include "engine/torvel.h"
#include "engine/utils.h"

namespace {

// Span of `index` (from 1) in a run of `total` cut into pieces of `piece`.
uint32_t PieceSize(uint32_t total, uint32_t piece, uint32_t index, uint32_t count) {
  return index == count && total % piece != 0 ? total % piece : piece;
}

}  // namespace

void SplitFile(TTorvel& S, uint32_t TileWidth, uint32_t TileHeight, std::vector<std::string>& Files,
               const std::string& OutDir, const std::string& Caption) {
  if (!FileExists(S.InInfo.FileName) || !S.InInfo.ImageIsOk) {
    FailRun(S, "File not found or bad file!");
    return;
  }
  // Never passed by the window; refuse before anything is written.
  if (TileWidth == 0 || TileHeight == 0 || S.InInfo.Width == 0 || S.InInfo.Height == 0) {
    FailRun(S, "Invalid tile size");
    return;
  }
  if (!OpenInputForRun(S)) return;
  const uint32_t W = S.InInfo.Width, H = S.InInfo.Height;
  const uint32_t TW = TileWidth > W ? W : TileWidth;
  const uint32_t TH = TileHeight > H ? H : TileHeight;
  const uint32_t C = W / TW + (W % TW != 0), R = H / TH + (H % TH != 0);
  auto ColumnWidth = [&](uint32_t c) { return PieceSize(W, TW, c, C); };
  auto RowHeight = [&](uint32_t r) { return PieceSize(H, TH, r, R); };

  const std::string prefix = OutDir + TileBaseName(S.InInfo.FileName) + "_";
  std::unique_ptr<TTorvel[]> tiles(new TTorvel[C]);
  // The tiles only borrow the input's description; its buffer stays ours.
  TFileInfo inCopy = S.InInfo;
  inCopy.ScanLine = nullptr;

  uint32_t inRow = 0;
  DoShowProgress(S, static_cast<int32_t>(H), Caption);
  S.ForceBigTiff = false;

  for (uint32_t b = 1; b <= R && !S.Abort; ++b) {
    uint32_t created = 0;
    for (uint32_t c = 1; c <= C; ++c) {
      TTorvel& t = tiles[c - 1];
      t.InInfo = inCopy;
      t.ForceBigTiff = S.ForceBigTiff;
      t.OutInfo.ImageType = S.OutInfo.ImageType;
      t.Lzw = S.Lzw;
      t.Prompt = S.Prompt;
      t.Abort = false;
      t.OutInfo.FileName = prefix + std::to_string(ColumnWidth(c)) + "X" + std::to_string(RowHeight(b)) + "_x" +
                           std::to_string(c) + "y" + std::to_string(b);
      t.OutInfo.Width = ColumnWidth(c);
      t.OutInfo.Height = RowHeight(b);
      if (!CreateOutFile(t, t.OutInfo.FileName)) {
        FailRun(S, "Cant't create file " + t.OutInfo.FileName);
        CloseOutFile(t);
        break;
      }
      ++created;
      Files.push_back(t.OutInfo.FileName);
      if (c == 1 && t.BigTiff) S.ForceBigTiff = true;
    }

    const uint32_t bandH = RowHeight(b);
    for (uint32_t r = 0; r < bandH && !S.Abort; ++r) {
      if (ReadLine(S, static_cast<int32_t>(inRow)) != static_cast<int32_t>(S.InInfo.ScanLineSize) ||
          S.InFile.TakeError() != 0) {
        FailRun(S, "Input file read error");
        break;
      }
      ++inRow;
      if (inRow % 7 == 0) {
        DoUpdateProgress(S, static_cast<int32_t>(inRow));
        if (S.Abort) break;
        DoShowStatus(S, "Processing row " + std::to_string(b) + "/" + std::to_string(R) + " (" +
                            std::to_string(bandH - r) + ")");
      }
      uint32_t xOff = 0;
      for (uint32_t c = 1; c <= C && !S.Abort; ++c) {
        TTorvel& t = tiles[c - 1];
        ConvertSpan(S, S.InInfo, static_cast<int32_t>(xOff), t.OutInfo, 0, ColumnWidth(c));
        xOff += ColumnWidth(c);
        const int32_t put = WriteLine(t, r);
        if (t.OutFile.TakeError() != 0 || put != static_cast<int32_t>(t.OutInfo.ScanLineSize)) {
          FailRun(S, "Write to file error");
        }
      }
    }
    if (created == C) DoUpdateProgress(S, static_cast<int32_t>(inRow));
    for (uint32_t c = 0; c < created; ++c) {
      TTorvel& t = tiles[c];
      CloseOutFile(t);
      // A tile whose last bytes did not reach the disk fails the split.
      if (t.Abort && !S.Abort) {
        FailRun(S, "Write to file error");
      }
    }
  }

  DoHideProgress(S);
  CloseInFile(S);
  S.ForceBigTiff = false;
}
