// Shared test helpers: scratch folders, images of known pixels in every
// input kind, a scripted prompt and a recording observer.
#pragma once

#include <cstdint>
#include <deque>
#include <stop_token>
#include <string>
#include <vector>

#include "engine/image.h"
#include "engine/operations.h"
#include "engine/run.h"
#include "engine/writer.h"

namespace testkit {

// A fresh folder under $TMPDIR, removed with everything in it at destruction.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  const std::string& dir() const { return dir_; }  // ends in '/'
  std::string path(const std::string& name) const { return dir_ + name; }

 private:
  std::string dir_;
};

// Interleaved samples of an image; 16-bit samples in host order.
struct Pixels {
  uint32_t width = 0, height = 0;
  int bits = 8, channels = 3;
  std::vector<uint16_t> samples;  // width * height * channels
  uint16_t at(uint32_t x, uint32_t y, int c) const { return samples[(size_t(y) * width + x) * channels + c]; }
};

// Deterministic pseudo-random pixels (seeded), full sample range.
Pixels makePixels(uint32_t w, uint32_t h, int bits, int channels, uint32_t seed = 1);
// The same image with `channels` channels: alpha added as full value or dropped.
Pixels withChannels(const Pixels& p, int channels);
// A rectangle of an image.
Pixels crop(const Pixels& p, uint32_t x, uint32_t y, uint32_t w, uint32_t h);

// File bytes of the image in each kind (RAW and TIFF little-endian, KRO big-endian).
std::string rawBytes(const Pixels& p);
std::string kroBytes(const Pixels& p);
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
void writeRaw(const std::string& path, const Pixels& p);
void writeKro(const std::string& path, const Pixels& p);
// A strip TIFF through libtiff; rowsPerStrip and compression as given.
void writeTiff(const std::string& path, const Pixels& p, bool bigTiff = false, int compression = 1,
               uint32_t rowsPerStrip = 16);

// A TIFF in any layout the readers take, through libtiff. The pixels are the
// file's own samples (one for gray, two for gray + alpha, indexes for a
// palette); JPEG takes RGB pixels and stores them as YCbCr.
struct TiffRecipe {
  uint16_t photometric = 2;   // RGB
  uint16_t compression = 1;   // none
  uint16_t predictor = 1;
  uint32_t tileWidth = 0, tileHeight = 0;  // tiled when set
  uint32_t rowsPerStrip = 16;
  bool separatePlanes = false;
  bool bigTiff = false;
  int pages = 1;              // later pages are half-size copies
  std::vector<uint16_t> colormap;  // 3 x 256 entries for a palette
};
void writeTiffLayout(const std::string& path, const Pixels& p, const TiffRecipe& recipe);

// `bytes` zero bytes as one zlib stream, as a Deflate TIFF tile holds them.
std::string deflatedZeros(size_t bytes);
// A black 8-bit RGB TIFF of Deflate tiles, written without decoding them: a
// large image that costs little to make and much to read.
void writeZeroTiles(const std::string& path, uint32_t width, uint32_t height, uint32_t tileWidth, uint32_t tileHeight);

// Reads back any of our outputs with our own format knowledge (RAW needs the size).
Pixels readRaw(const std::string& path, uint32_t w, uint32_t h, int bits);
Pixels readKro(const std::string& path);
Pixels readTiff(const std::string& path);

// Records every report in order as text, the way the front ends show it,
// and cancels on demand.
class Recorder : public torvel::RunObserver {
 public:
  // "show:Total:Caption", "update:Done", "status:Text", "hide", "note:Text"
  std::vector<std::string> events;
  int cancelAtUpdate = -1;  // request a stop when this many updates have been seen
  int updates = 0;
  std::stop_source stop;

  void phaseStarted(const torvel::PhaseStart& phase) override;
  void progressed(const torvel::Progress& progress) override;
  void phaseEnded() override { events.push_back("hide"); }
  void note(const std::string& text) override { events.push_back("note:" + text); }
  std::vector<std::string> matching(const std::string& prefix) const;
  // A fresh cancel request, for the next run.
  void rearm(int atUpdate = -1);

 private:
  torvel::PhaseStart phase_;
};

// Peak resident memory of this process so far, in kB.
long peakRssKb();

// Runs a shell command; returns its standard output and sets `status` to its exit code.
std::string runCommand(const std::string& cmd, int* status = nullptr);
// Quotes a path for the shell.
std::string quote(const std::string& s);

// A run's channels over a scratch folder: a recorder, and the overwrite
// question answered from a script (No when it runs out).
struct Harness {
  Scratch dir;
  Recorder recorder;
  std::deque<bool> answers;            // to "replace this output?"
  std::vector<std::string> questions;  // the paths asked about
  torvel::ImageInfo input;
  // Probes `path` as the input; true when accepted.
  bool select(const std::string& path, const torvel::RawGeometry& raw = {});
  torvel::RunContext context();
  // The files of the scratch folder, sorted, one per line.
  std::string listing() const;
};

// The whole of an image as a region.
inline torvel::Region whole(const torvel::ImageInfo& image) { return {0, 0, image.width, image.height}; }

inline constexpr torvel::OutputFormat tiffOut{torvel::FileKind::Tiff, false};
inline constexpr torvel::OutputFormat lzwOut{torvel::FileKind::Tiff, true};
inline constexpr torvel::OutputFormat rawOut{torvel::FileKind::Raw, false};
inline constexpr torvel::OutputFormat kroOut{torvel::FileKind::Kro, false};

}  // namespace testkit
