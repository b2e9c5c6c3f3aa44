#include "resize/pipeline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "engine/setup.h"
#include "engine/tilenames.h"
#include "engine/utils.h"
#include "resize/image.h"
#include "resize/worker.h"

namespace {

// The largest image the final step scales in one piece (one widened tile of
// 16-bit pixels); a larger one first goes through one more split pass.
constexpr int64_t MaxDirectBytes = int64_t{10999} * 10999 * 6;

void Sleep50() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

void DeleteAll(const std::vector<std::string>& files) {
  for (const std::string& f : files) DeleteFileIfExists(f);
}

struct TSlot {
  std::unique_ptr<TRawResize> Worker;
  size_t Tile = 0;
};

// The conversion of step 4 must never replace the user's input, whatever
// folder spelling reaches it.
bool WouldReplaceInput(const TTorvel& S, const TFileInfo& saved, const std::string& outDir, FileType type) {
  std::string base = outDir + TileBaseName(S.InInfo.FileName);
  if (type == FileType::RAW)
    base += "_" + std::to_string(S.InInfo.Width) + "X" + std::to_string(S.InInfo.Height);
  const char* exts[] = {".tif", ".big.tif", ".raw", ".kro"};
  for (const char* e : exts)
    if (SameFile(base + e, saved.FileName)) return true;
  return false;
}

class TPipeline {
 public:
  TPipeline(TTorvel& s, const TResizeParams& p, TResizeHost& h) : S(s), P(p), Host(h) {}
  void Run();

 private:
  bool Pass(uint32_t TW, uint32_t TH, uint32_t Cols, uint32_t Rows, long double divider);
  void Step2(const std::vector<std::string>& tiles, long double divider, std::vector<std::string>& resized);
  void FinalStep(uint32_t TW);
  bool CopyInputToTemp();
  // The file just written becomes the current image.
  void TakeOutputAsInput() {
    S.InInfo = S.OutInfo;
    S.InInfo.ScanLine = nullptr;
    S.InInfo.ImageIsOk = true;
  }
  void SetOutputFormat() {
    S.OutInfo.ImageType = P.OutType;
    S.Lzw = P.Lzw;
  }

  TTorvel& S;
  const TResizeParams& P;
  TResizeHost& Host;
  std::string TempDir;
  TFileInfo Saved;
  bool LaterPass = false;
  uint32_t Threshold = 0;
};

void TPipeline::Run() {
  if (!FileExists(S.InInfo.FileName) || !S.InInfo.ImageIsOk) {
    DoShowError(S, "File not found or bad file!");
    S.Abort = true;
    return;
  }
  SetOutputFormat();
  const std::string outDir = GetOutputFolder(P.ChosenFolder, S.InInfo.FileName);
  if (FolderOf(S.InInfo.FileName) == outDir && S.OutInfo.ImageType == S.InInfo.ImageType) {
    ShowErrorBox(S, "Cannot overwrite input file");
    S.Abort = true;
    return;
  }
  if (S.InInfo.Width < 10000 && S.InInfo.Height < 10000) {
    ShowErrorBox(S, "Width and height of the input file must be > 10000");
    S.Abort = true;
    return;
  }
  TempDir = outDir + ResizeTempFolderName + "/";
  if (!FolderExists(TempDir) && ::mkdir(TempDir.c_str(), 0777) != 0) {
    ShowErrorBox(S, "Cannot create the temporary directory " + TempDir);
    S.Abort = true;
    return;
  }
  Host.DisableButtons();
  Threshold = P.Fast ? P.RequestedWidth : 2 * P.RequestedWidth;
  LaterPass = false;
  Saved = S.InInfo;
  Saved.ScanLine = nullptr;

  for (;;) {
    const uint32_t W = S.InInfo.Width, H = S.InInfo.Height;
    const uint32_t TW = PassTileSize(W), TH = PassTileSize(H);
    uint32_t Cols = TileCount(W, TW), Rows = TileCount(H, TH);
    long double divider = PassDivider(W, P.RequestedWidth, Threshold);
    if (WithinTwoPercent(W, H, P.RequestedWidth, P.RequestedHeight)) Cols = Rows = 0;
    if (Cols <= 1 && Rows <= 1) {
      long double D;
      // An image too large to scale in one piece gets one more pass by D.
      if (DirectScalingDue(W, H, P.RequestedWidth, TW, D) &&
          int64_t{W} * H * S.InInfo.BytesPerPixel > MaxDirectBytes) {
        if (!Pass(TW, TH, TileCount(W, TW), TileCount(H, TH), D)) break;
        continue;
      }
      FinalStep(TW);
      break;
    }
    if (!Pass(TW, TH, Cols, Rows, divider)) break;
  }

  S.InInfo = Saved;
  ReleaseCachedPixels();
  Host.EnableButtons();
  ::rmdir(TempDir.c_str());  // stays when something unknown is left in it
}

// One split pass; false when it ended with Abort set.
bool TPipeline::Pass(uint32_t TW, uint32_t TH, uint32_t Cols, uint32_t Rows, long double divider) {
  std::vector<std::string> tiles, resized;
  S.OutInfo.ImageType = FileType::RAW;
  SplitFile(S, TW, TH, tiles, TempDir, "Step 1/4");
  if (!S.Abort) {
    Step2(tiles, divider, resized);
    DoHideProgress(S);
    if (!S.Abort) MergeFiles(S, Cols, Rows, resized, TempDir, "Step 3/4");
    DeleteAll(resized);
  }
  if (S.Abort) DeleteAll(tiles);
  if (LaterPass)
    DeleteFileIfExists(S.InInfo.FileName);
  else
    LaterPass = true;
  if (S.Abort) return false;
  TakeOutputAsInput();
  return true;
}

void TPipeline::Step2(const std::vector<std::string>& tiles, long double divider, std::vector<std::string>& resized) {
  const size_t count = tiles.size();
  std::vector<TSlot> slots(P.NumOfCores > 0 ? P.NumOfCores : 1);
  DoShowProgress(S, static_cast<int32_t>(2 * count), "Step 2/4");
  size_t next = 0;
  uint16_t done = 0;
  const int bits = S.InInfo.Bits;
  while (!S.Abort) {
    DoShowStatus(S, "Resizing tile " + std::to_string(next) + "/" + std::to_string(count));
    Host.ProcessEvents();
    if (S.Abort) break;
    for (TSlot& slot : slots) {
      if (slot.Worker || next >= count) continue;
      try {
        slot.Worker = std::make_unique<TRawResize>();
        slot.Worker->Init(tiles[next], divider, P.Fast, bits);
        slot.Worker->Start();
      } catch (...) {
        slot.Worker.reset();
        DoShowError(S, "Error creating the resizer thread");
        S.Abort = true;
        break;
      }
      slot.Tile = next++;
      DoUpdateProgress(S, ++done);
    }
    Sleep50();
    bool allEmpty = true;
    for (const TSlot& slot : slots) allEmpty &= !slot.Worker;
    if (next >= count && allEmpty) break;
    for (TSlot& slot : slots) {
      if (!slot.Worker || !slot.Worker->Finished()) continue;
      if (slot.Worker->Error) {
        DoShowError(S, "Error resizing the image");
        S.Abort = true;
        continue;
      }
      resized.push_back(slot.Worker->OutFileName);
      DeleteFileIfExists(tiles[slot.Tile]);
      slot.Worker.reset();
      DoUpdateProgress(S, ++done);
    }
  }
  if (!S.Abort) return;
  DoShowStatus(S, "Killing processes...");
  for (;;) {
    bool allEmpty = true;
    for (TSlot& slot : slots) {
      if (!slot.Worker) continue;
      if (!slot.Worker->Finished()) {
        allEmpty = false;
        continue;
      }
      DeleteFileIfExists(tiles[slot.Tile]);
      if (!slot.Worker->OutFileName.empty()) DeleteFileIfExists(slot.Worker->OutFileName);
      slot.Worker.reset();
    }
    if (allEmpty) break;
    Host.ProcessEvents();
    Sleep50();
  }
}

// The user's input is never handed to a worker: a first pass that goes
// straight to the final scaling works on a size-named RAW copy in the
// temporary folder.
bool TPipeline::CopyInputToTemp() {
  S.OutInfo.ImageType = FileType::RAW;
  S.Lzw = false;
  ConvertFile(S, 0, 0, static_cast<int32_t>(S.InInfo.Width), static_cast<int32_t>(S.InInfo.Height), TempDir,
              "Step 1/4");
  if (S.Abort) return false;
  TakeOutputAsInput();
  return true;
}

void TPipeline::FinalStep(uint32_t TW) {
  long double D;
  if (DirectScalingDue(S.InInfo.Width, S.InInfo.Height, P.RequestedWidth, TW, D)) {
    if (S.InInfo.FileName == Saved.FileName && !CopyInputToTemp()) {
      if (S.InInfo.FileName != Saved.FileName) DeleteFileIfExists(S.InInfo.FileName);
      return;
    }
    TRawResize worker;
    worker.Init(S.InInfo.FileName, D, P.Fast, S.InInfo.Bits);
    try {
      worker.Start();
    } catch (...) {
      DoShowError(S, "Error creating the resizer thread");
      S.Abort = true;
      DeleteFileIfExists(S.InInfo.FileName);
      return;
    }
    while (!worker.Finished()) {
      Sleep50();
      Host.ProcessEvents();
    }
    if (worker.Error) {
      DoShowError(S, "Error resizing the image");
      S.Abort = true;
      DeleteFileIfExists(worker.OutFileName);
      if (S.InInfo.FileName != Saved.FileName) DeleteFileIfExists(S.InInfo.FileName);
      return;
    }
    if (S.InInfo.FileName != Saved.FileName) DeleteFileIfExists(S.InInfo.FileName);
    S.InInfo = TFileInfo{};
    S.InInfo.FileName = worker.OutFileName;
    ProbeRaw(S, false);
  }
  SetOutputFormat();
  const std::string outDir = GetOutputFolder(P.ChosenFolder, Saved.FileName);
  if (WouldReplaceInput(S, Saved, outDir, S.OutInfo.ImageType)) {
    ShowErrorBox(S, "Cannot overwrite input file");
    S.Abort = true;
  } else {
    ConvertFile(S, 0, 0, static_cast<int32_t>(S.InInfo.Width), static_cast<int32_t>(S.InInfo.Height), outDir,
                "Step 4/4");
  }
  if (S.InInfo.FileName != Saved.FileName) DeleteFileIfExists(S.InInfo.FileName);
}

}  // namespace

uint32_t PassTileSize(uint32_t Side) {
  uint32_t t = 10000;
  const uint32_t rem = Side % 10000, whole = Side / 10000;
  if (rem > 0 && rem < 1000 && whole >= 1) t = 10000 + rem / whole + 1;
  return t > Side ? Side : t;
}

bool WithinTwoPercent(uint32_t W, uint32_t H, uint32_t RW, uint32_t RH) {
  const double w = W, h = H;
  return RW >= w - std::trunc(2 * w / 100) || RH >= h - std::trunc(2 * h / 100);
}

long double PassDivider(uint32_t W, uint32_t RW, uint32_t Threshold) {
  for (uint32_t n : {10u, 8u, 6u, 4u, 2u})
    if (W / n >= Threshold) return n;
  return static_cast<long double>(W) / RW;
}

int64_t RoundDiv(uint32_t Side, long double D) { return static_cast<int64_t>(std::nearbyintl(Side / D)); }

bool DirectScalingDue(uint32_t W, uint32_t H, uint32_t RW, uint32_t TW, long double& D) {
  D = static_cast<long double>(W) / RW;
  return TW >= RW && D >= 1 && std::llabs(RoundDiv(W, D) - W) > 100 && std::llabs(RoundDiv(H, D) - H) > 100;
}

void RunResize(TTorvel& S, const TResizeParams& P, TResizeHost& Host) {
  TPipeline(S, P, Host).Run();
}
