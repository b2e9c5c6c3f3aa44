// Convert and crop: one line loop that copies a rectangle of the input into a
// new output, one input line and one output line in memory.
#include "engine/tilenames.h"
#include "engine/torvel.h"
#include "engine/utils.h"

namespace {

// A read error is anything short of a full line: a truncated last line must
// never reach the output with the previous line's bytes in it.
bool LineReadFailed(TTorvel& S, int32_t got) {
  const bool ioError = S.InFile.TakeError() != 0;
  return ioError || got != static_cast<int32_t>(S.InInfo.ScanLineSize);
}

}  // namespace

void ConvertFile(TTorvel& S, int32_t X, int32_t Y, int32_t W, int32_t H, const std::string& OutDir,
                 const std::string& Caption) {
  DoShowStatus(S, "");
  if (!FileExists(S.InInfo.FileName) || !S.InInfo.ImageIsOk) {
    FailRun(S, "File not found");
    return;
  }
  if (!OpenInputForRun(S)) return;
  S.OutInfo.Width = static_cast<uint32_t>(W);
  S.OutInfo.Height = static_cast<uint32_t>(H);
  std::string base = OutDir + TileBaseName(S.InInfo.FileName);
  if (S.OutInfo.ImageType == FileType::RAW) base += "_" + std::to_string(W) + "X" + std::to_string(H);
  if (!CreateOutFile(S, base)) {
    CloseOutFile(S);
    CloseInFile(S);
    return;
  }
  DoShowProgress(S, Y + H, Caption);

  if (Y > 0 && S.InInfo.ImageType != FileType::TIF) {
    for (int32_t i = 0; i < Y && !S.Abort; ++i) {
      const int32_t got = ReadLine(S, i);
      if (i % 50 == 0) DoUpdateProgress(S, i);
      DoShowStatus(S, "Skipping lines... (" + std::to_string(Y - i) + ")");
      if (LineReadFailed(S, got)) {
        FailRun(S, "Read file error");
        break;
      }
    }
  }

  int32_t c = 0;
  for (int32_t row = Y; row < Y + H && !S.Abort; ++row) {
    if (LineReadFailed(S, ReadLine(S, row))) {
      FailRun(S, "Read file error");
      break;
    }
    ConvertSpan(S, S.InInfo, X, S.OutInfo, 0, static_cast<uint32_t>(W));
    const int32_t put = WriteLine(S, static_cast<uint32_t>(c));
    if (S.OutFile.TakeError() != 0 || put != static_cast<int32_t>(S.OutInfo.ScanLineSize)) {
      FailRun(S, "Write to file error");
      break;
    }
    if (row % 7 == 0) DoUpdateProgress(S, row);
    DoShowStatus(S, "Saving lines... (" + std::to_string(H - c) + ")");
    ++c;
  }

  DoHideProgress(S);
  CloseOutFile(S);
  if (S.Abort) DeleteFileIfExists(S.OutInfo.FileName);
  CloseInFile(S);
}
