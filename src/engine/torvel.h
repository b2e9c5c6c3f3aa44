// The engine record and every routine that works on it. Toolkit-free: the
// window, the command line and the tests all drive the engine through this
// header, the record's five events and the prompt interface.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/bytefile.h"

struct tiff;
typedef struct tiff TIFF;

enum class FileType : uint8_t { NV = 0, KRO4 = 1, RAW = 2, TIF = 3 };

using TScanLine = uint8_t[300000];
using PScanLine = uint8_t*;

// What the engine shows itself: modal boxes and questions. The window answers
// with message boxes, the command line on the terminal, tests with a script.
class TPrompt {
 public:
  virtual ~TPrompt() = default;
  virtual void Message(const std::string& text) = 0;  // modal message box
  virtual void Error(const std::string& text) = 0;    // error dialog, OK button
  virtual bool AskYesNo(const std::string& question) = 0;
  // The RAW size question: file size and what the name gave (0 when nothing).
  // Returns false when the user cancels.
  virtual bool AskRawGeometry(int64_t fileSize, uint32_t& width, uint32_t& height, int& bits) = 0;
};

struct TFileInfo {
  std::string FileName;
  int64_t FileSize = 0;
  uint32_t Width = 0;
  uint32_t Height = 0;
  uint8_t Bits = 0;
  uint8_t Channels = 0;
  uint8_t BytesPerPixel = 0;
  uint32_t ScanLineSize = 0;
  PScanLine ScanLine = nullptr;  // owned by the record that holds this info
  bool IsLsb = false;
  FileType ImageType = FileType::NV;
  std::string ImageTypeDesc;
  bool ImageIsOk = false;
};

struct TRgb8 { uint8_t R, G, B; };
struct TRgba8 { uint8_t R, G, B, A; };
struct TRgb16 { uint16_t R, G, B; };
struct TRgba16 { uint16_t R, G, B, A; };

struct TTorvel {
  TByteFile InFile;
  TByteFile OutFile;
  bool InOpen = false;
  bool OutOpen = false;
  TFileInfo InInfo;
  TFileInfo OutInfo;
  TIFF* InTiff = nullptr;
  TIFF* OutTiff = nullptr;
  bool Lzw = false;
  bool BigTiff = false;
  bool ForceBigTiff = false;
  TRgb8* InRgb8 = nullptr;
  TRgba8* InRgba8 = nullptr;
  TRgb16* InRgb16 = nullptr;
  TRgba16* InRgba16 = nullptr;
  TRgb8* OutRgb8 = nullptr;
  TRgba8* OutRgba8 = nullptr;
  TRgb16* OutRgb16 = nullptr;
  TRgba16* OutRgba16 = nullptr;
  std::string ErrorText;
  bool Abort = false;
  std::function<void(const std::string&)> OnShowError;
  std::function<void(const std::string&)> OnShowStatus;
  std::function<void(int32_t, const std::string&)> OnShowProgress;
  std::function<void(int32_t)> OnUpdateProgress;
  std::function<void()> OnHideProgress;
  // Not owned. Tile records get the main record's prompt from the operation
  // that drives them, so their boxes reach the user too. Null: nothing shown,
  // every question answered No.
  TPrompt* Prompt = nullptr;

  TTorvel() = default;
  TTorvel(const TTorvel&) = delete;
  TTorvel& operator=(const TTorvel&) = delete;
  ~TTorvel();  // releases whatever is still open
};

// Events and prompts.
void Init(TTorvel& S);
void DoShowError(TTorvel& S, const std::string& Msg);
void DoShowStatus(TTorvel& S, const std::string& Msg);
void DoShowProgress(TTorvel& S, int32_t Max, const std::string& Desc);
void DoUpdateProgress(TTorvel& S, int32_t Current);
void DoHideProgress(TTorvel& S);
void ShowMessage(TTorvel& S, const std::string& Msg);
void ShowErrorBox(TTorvel& S, const std::string& Msg);
bool AskYesNo(TTorvel& S, const std::string& Question);
// A failure of a run: the error event, then Abort.
void FailRun(TTorvel& S, const std::string& Msg);
// Opens the probed input for a run; a failure is reported and cleaned up.
bool OpenInputForRun(TTorvel& S);

// Probing and opening inputs.
void ProbeFile(TTorvel& S, bool AskUser);
void ProbeKro(TTorvel& S);
void ProbeRaw(TTorvel& S, bool AskUser);
void ProbeTif(TTorvel& S);
bool OpenInFile(TTorvel& S, const std::string& FileName);
void CloseInFile(TTorvel& S);

// Outputs and scanline I/O.
bool CreateOutFile(TTorvel& S, const std::string& BaseName);
void WriteKroHeader(TTorvel& S);
int32_t ReadLine(TTorvel& S, int32_t Row);
int32_t WriteLine(TTorvel& S, uint32_t Row);
void CloseOutFile(TTorvel& S);

// Bytes of pixel data above which a TIFF output becomes BigTIFF.
constexpr int64_t BigTiffThreshold = 4000000000LL;
// Pixel-data size the BigTIFF rule judges: LZW can expand noisy data by half.
int64_t TiffWorstCaseSize(int64_t rawSize, bool lzw);

// Pixel spans.
void ConvertSpan(TTorvel& S, const TFileInfo& InInfo, int32_t InStart, const TFileInfo& OutInfo,
                 int32_t OutStart, uint32_t Count);

// Operations.
void ConvertFile(TTorvel& S, int32_t X, int32_t Y, int32_t W, int32_t H, const std::string& OutDir,
                 const std::string& Caption);
void SplitFile(TTorvel& S, uint32_t TileWidth, uint32_t TileHeight, std::vector<std::string>& Files,
               const std::string& OutDir, const std::string& Caption);
void MergeFiles(TTorvel& S, uint32_t TilesX, uint32_t TilesY, const std::vector<std::string>& Files,
                const std::string& OutDir, const std::string& Caption);

// TIFF library diagnostics: silenced once per process before the first TIFF call.
using TTiffHook = void (*)(const std::string& module, const std::string& message);
extern TTiffHook TiffWarningHook;
extern TTiffHook TiffErrorHook;
void InstallTiffHandlers();
