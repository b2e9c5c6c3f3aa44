// The resize pipeline: passes of split, per-tile scaling in worker threads and
// merge over RAW files in a temporary folder, then the final conversion.
// Toolkit-free: the window and the command line both drive it.
#pragma once

#include <cstdint>
#include <string>

#include "engine/torvel.h"

struct TResizeParams {
  uint32_t RequestedWidth = 0;   // RW
  uint32_t RequestedHeight = 0;  // RH, used only by the 2 % rule
  bool Fast = false;             // nearest instead of Lanczos
  FileType OutType = FileType::TIF;
  bool Lzw = false;
  std::string ChosenFolder;  // the output folder the user chose, may be empty
  uint16_t NumOfCores = 1;   // tile workers at once
};

// What the pipeline needs from its driver besides the record's events.
class TResizeHost {
 public:
  virtual ~TResizeHost() = default;
  virtual void ProcessEvents() {}  // let pending window events run
  virtual void DisableButtons() {}
  virtual void EnableButtons() {}
};

void RunResize(TTorvel& S, const TResizeParams& P, TResizeHost& Host);

// Pass geometry, exposed for tests and the front ends.
constexpr const char* ResizeTempFolderName = "$$$TEMP$$$RESIZER$$$";
uint32_t PassTileSize(uint32_t Side);
// The 2 % rule: the requested size is close enough to stop the passes.
bool WithinTwoPercent(uint32_t W, uint32_t H, uint32_t RW, uint32_t RH);
long double PassDivider(uint32_t W, uint32_t RW, uint32_t Threshold);
// Round (W ÷ D): nearest whole number, halfway to even, in extended precision.
int64_t RoundDiv(uint32_t Side, long double D);
// Whether the final step scales directly, and by which factor.
bool DirectScalingDue(uint32_t W, uint32_t H, uint32_t RW, uint32_t TW, long double& D);
