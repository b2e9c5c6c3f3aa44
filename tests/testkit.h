// Shared test helpers: scratch folders, images of known pixels in every
// input kind, a scripted prompt and a recording event sink.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "engine/torvel.h"

namespace testkit {

// A fresh folder under $TMPDIR, removed with everything in it at destruction.
class TScratch {
 public:
  TScratch();
  ~TScratch();
  const std::string& Dir() const { return dir_; }  // ends in '/'
  std::string Path(const std::string& name) const { return dir_ + name; }

 private:
  std::string dir_;
};

// Interleaved samples of an image; 16-bit samples in host order.
struct TPixels {
  uint32_t Width = 0, Height = 0;
  int Bits = 8, Channels = 3;
  std::vector<uint16_t> Samples;  // Width * Height * Channels
  uint16_t At(uint32_t x, uint32_t y, int c) const { return Samples[(size_t(y) * Width + x) * Channels + c]; }
};

// Deterministic pseudo-random pixels (seeded), full sample range.
TPixels MakePixels(uint32_t w, uint32_t h, int bits, int channels, uint32_t seed = 1);
// The same image as it would look with `channels` channels: alpha added as
// full value or dropped.
TPixels WithChannels(const TPixels& p, int channels);
// A rectangle of an image.
TPixels Crop(const TPixels& p, uint32_t x, uint32_t y, uint32_t w, uint32_t h);

// File bytes of the image in each kind (RAW and TIFF little-endian, KRO big-endian).
std::string RawBytes(const TPixels& p);
std::string KroBytes(const TPixels& p);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
void WriteRaw(const std::string& path, const TPixels& p);
void WriteKro(const std::string& path, const TPixels& p);
// A strip TIFF through libtiff; rowsPerStrip and compression as given.
void WriteTiff(const std::string& path, const TPixels& p, bool bigTiff = false, int compression = 1,
               uint32_t rowsPerStrip = 16);

// Reads back any of our outputs with our own format knowledge (RAW needs the size).
TPixels ReadRaw(const std::string& path, uint32_t w, uint32_t h, int bits);
TPixels ReadKro(const std::string& path);
TPixels ReadTiff(const std::string& path);

// A prompt that records what it was shown and answers from a script.
class TScriptedPrompt : public TPrompt {
 public:
  std::vector<std::string> Messages, Errors, Questions;
  std::deque<bool> Answers;  // AskYesNo answers, No when empty
  bool RawAnswer = false;
  uint32_t RawWidth = 0, RawHeight = 0;
  int RawBits = 0;
  int RawAsked = 0;
  void Message(const std::string& text) override { Messages.push_back(text); }
  void Error(const std::string& text) override { Errors.push_back(text); }
  bool AskYesNo(const std::string& q) override;
  bool AskRawGeometry(int64_t fileSize, uint32_t& width, uint32_t& height, int& bits) override;
  // Everything shown, in one list.
  std::vector<std::string> All() const;
};

// Records every event of a record in order as text; Abort-on-demand hooks.
struct TRecorder {
  std::vector<std::string> Events;  // "error:...", "status:...", "show:Max:Desc", "update:N", "hide"
  std::vector<std::string> ErrorsShown;
  int AbortAtUpdate = -1;  // set Abort when this many updates have been seen
  int Updates = 0;
  void Attach(TTorvel& S);
  std::vector<std::string> Matching(const std::string& prefix) const;
};

// Peak resident memory of this process so far, in kB.
long PeakRssKb();

}  // namespace testkit

namespace testkit {
// Runs a shell command; returns its standard output and sets `status` to its exit code.
std::string RunCommand(const std::string& cmd, int* status = nullptr);
// Quotes a path for the shell.
std::string Quote(const std::string& s);
}  // namespace testkit

namespace testkit {
// A main record with a scripted prompt and a recorder, over a scratch folder.
struct TRun {
  TScratch Dir;
  TTorvel S;
  TScriptedPrompt Prompt;
  TRecorder Rec;
  TRun();
  // Probes `path` into S.InInfo without asking; true when accepted.
  bool Select(const std::string& path);
  void SetOutput(FileType type, bool lzw = false);
  // The files of the scratch folder, sorted, one per line.
  std::string Listing() const;
};
}  // namespace testkit
