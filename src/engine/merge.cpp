// Merge: joins a complete grid of tiles, found by their names, line by line;
// one row band of tiles is open at a time.
#include <memory>

#include "engine/tilenames.h"
#include "engine/torvel.h"
#include "engine/utils.h"

namespace {

std::string TileText(uint32_t x, uint32_t y) {
  return "Tile X=" + std::to_string(x) + " Y=" + std::to_string(y);
}

// Probes the tile of (x, y) into `t` without asking the user anything.
bool ProbeTile(TTorvel& S, TTorvel& t, const TTileIndex& Files, uint32_t x, uint32_t y) {
  t.InInfo = TFileInfo{};
  t.Prompt = S.Prompt;
  t.InInfo.FileName = Files.Find(x, y);
  if (t.InInfo.FileName.empty()) return false;
  ProbeFile(t, false);
  return t.InInfo.ImageIsOk;
}

}  // namespace

void MergeFiles(TTorvel& S, uint32_t TilesX, uint32_t TilesY, const std::vector<std::string>& Files,
                const std::string& OutDir, const std::string& Caption) {
  const uint32_t NX = TilesX, NY = TilesY;
  if (Files.empty() || NX == 0 || NY == 0) {
    S.Abort = true;
    return;
  }
  std::string baseName, ext;
  ParseTileName(Files[0], baseName, ext);
  const std::string outBase = OutDir + baseName;
  const TTileIndex index(Files);
  std::unique_ptr<TTorvel[]> recs(new TTorvel[NX + 1]);
  TTorvel& corner = recs[NX];

  if (!ProbeTile(S, corner, index, 1, 1)) {
    FailRun(S, "Tile X=1 Y=1 is not valid");
    return;
  }
  const uint32_t W1 = corner.InInfo.Width, H1 = corner.InInfo.Height;
  if (!ProbeTile(S, corner, index, NX, NY)) {
    FailRun(S, TileText(NX, NY) + " is not valid");
    return;
  }
  const uint32_t WL = corner.InInfo.Width, HL = corner.InInfo.Height;
  const uint8_t bits = corner.InInfo.Bits;
  const uint32_t OutW = (NX - 1) * W1 + WL, OutH = (NY - 1) * H1 + HL;
  // The sums must also fit the sizes the line loop and the output use.
  const uint64_t wideW = uint64_t{NX - 1} * W1 + WL, wideH = uint64_t{NY - 1} * H1 + HL;
  if (W1 == 0 || H1 == 0 || WL == 0 || HL == 0 || OutW == 0 || OutH == 0 || wideW > 0x7FFFFFFF ||
      wideH > 0x7FFFFFFF) {
    ShowMessage(S, "Found error in tile dimensions");
    S.ErrorText = "Found error in tile dimensions";
    S.Abort = true;
    return;
  }

  uint32_t row = 0;
  S.OutInfo.FileName = outBase;
  S.OutInfo.Width = OutW;
  S.OutInfo.Height = OutH;
  if (S.OutInfo.ImageType == FileType::RAW)
    S.OutInfo.FileName += "_" + std::to_string(OutW) + "X" + std::to_string(OutH);
  S.InInfo.Bits = bits;
  if (!CreateOutFile(S, S.OutInfo.FileName)) {
    FailRun(S, "Cannot create the file " + S.OutInfo.FileName);
    CloseOutFile(S);
    return;
  }
  DoShowProgress(S, static_cast<int32_t>(OutH), Caption);

  for (uint32_t Y = 1; Y <= NY; ++Y) {
    for (uint32_t X = 1; X <= NX; ++X) {
      TTorvel& t = recs[X - 1];
      const uint32_t needW = X < NX ? W1 : WL, needH = Y < NY ? H1 : HL;
      // Tiles of another depth would overrun the output line: refused too.
      if (!ProbeTile(S, t, index, X, Y) || t.InInfo.Width != needW || t.InInfo.Height != needH ||
          t.InInfo.Bits != bits) {
        FailRun(S, TileText(X, Y) + " is not valid");
        break;
      }
      if (!OpenInFile(t, t.InInfo.FileName)) {
        FailRun(S, TileText(X, Y) + " read error");
        break;
      }
    }
    if (S.Abort) break;

    const uint32_t bandH = Y < NY ? H1 : HL;
    for (uint32_t r = 0; r < bandH && !S.Abort; ++r) {
      uint32_t xOff = 0;
      for (uint32_t X = 1; X <= NX; ++X) {
        TTorvel& t = recs[X - 1];
        const int32_t got = ReadLine(t, static_cast<int32_t>(r));
        if (t.InFile.TakeError() != 0 || got != static_cast<int32_t>(t.InInfo.ScanLineSize)) {
          FailRun(S, TileText(X, Y) + " read error");
          break;
        }
        ConvertSpan(S, t.InInfo, 0, S.OutInfo, static_cast<int32_t>(xOff), t.InInfo.Width);
        xOff += t.InInfo.Width;
      }
      if (S.Abort) break;
      const int32_t put = WriteLine(S, row);
      if (S.OutFile.TakeError() != 0 || put != static_cast<int32_t>(S.OutInfo.ScanLineSize)) {
        FailRun(S, "Write to file error");
        break;
      }
      ++row;
      if (row % 7 == 0) {
        DoUpdateProgress(S, static_cast<int32_t>(row));
        if (S.Abort) break;
        DoShowStatus(S, "Processing row " + std::to_string(Y) + "/" + std::to_string(NY) + " (" +
                            std::to_string(bandH - r) + ")");
      }
    }
    for (uint32_t X = 0; X < NX; ++X) CloseInFile(recs[X]);
  }

  for (uint32_t X = 0; X < NX; ++X) CloseInFile(recs[X]);
  CloseOutFile(S);
  if (S.Abort) DeleteFileIfExists(S.OutInfo.FileName);
  DoHideProgress(S);
}
