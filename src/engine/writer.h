// Image writers: one object per output, chosen once by the output kind. A
// writer owns its line buffer, takes rows in order, and either finishes the
// file (everything written, flushed and checked) or discards it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/image.h"
#include "engine/run.h"

namespace torvel {

class PartFile;

// Rows handed over together go to the file straight from the caller's memory
// once they make this many bytes; fewer gather in the writer's buffer.
inline constexpr size_t directRowsBytes = 64 * 1024;

class ImageWriter {
 public:
  // `part` is where the bytes go until the output is complete.
  ImageWriter(ImageInfo info, std::unique_ptr<PartFile> part);
  virtual ~ImageWriter();  // discards an output neither finished nor discarded
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;

  // The output: its final path, size and the layout of the lines it takes.
  const ImageInfo& info() const { return info_; }
  // Where the next row's bytes go, info().lineBytes() of them; valid until
  // writeRow().
  uint8_t* line() { return nextLine_ ? nextLine_ : (nextLine_ = rowBuffer()); }
  // Writes line() as the next row; false on failure, and error() says why.
  bool writeRow();
  // Writes `count` rows already in the output's layout, row i at
  // first + i * stride. Kinds that store plain rows send rows of at least
  // directRowsBytes to the file from there, many with one call, uncopied.
  bool writeRows(const uint8_t* first, size_t stride, uint32_t count);
  // True for the kinds that do: long runs of rows then pay.
  virtual bool writesRowsDirectly() const { return false; }
  // Outputs stored plane by plane take their rows once per plane: the run
  // hands them every row passes() times, calling beginPass() before each
  // pass after the first.
  virtual int passes() const { return 1; }
  virtual void beginPass(int /*pass*/) {}
  // Completes the file and gives it its final name; false when that fails,
  // and then the file is gone. A file that took the final name meanwhile is
  // replaced only when `replace` was set; otherwise finish() fails and
  // nameTaken() says so.
  bool finish();
  void setReplace(bool replace) { replace_ = replace; }
  bool nameTaken() const { return nameTaken_; }
  // After a failed finish(): Declined when the name was taken meanwhile,
  // Failed otherwise, and the text that says so.
  Outcome finishOutcome() const { return nameTaken_ ? Outcome::Declined : Outcome::Failed; }
  std::string finishFailureText() const { return nameTaken_ ? error() : withReason("Write to file error", error()); }
  // Removes whatever was written.
  void discard();
  const std::string& error() const { return error_; }

 protected:
  // Where a kind wants the next row; the line buffer unless it keeps its own.
  virtual uint8_t* rowBuffer() { return line_.get(); }
  virtual bool putRow(const uint8_t* line) = 0;
  // Row by row through line() unless a kind takes them together.
  virtual bool putRows(const uint8_t* first, size_t stride, uint32_t count);
  virtual bool complete() = 0;  // the kind's own closing, checked
  virtual void abandon() = 0;   // closes without completing
  bool fail(std::string why);
  // Where the bytes go while the output is written.
  const std::string& writePath() const;
  // A descriptor of that file for the kind's own writing; -1 with errno set.
  int takeDescriptor() const;
  // Gives the line buffer; false when it cannot be had.
  bool allocate();

 private:
  ImageInfo info_;
  std::unique_ptr<PartFile> part_;
  std::unique_ptr<uint8_t[]> line_;
  uint8_t* nextLine_ = nullptr;
  std::string error_;
  bool open_ = true;
  bool replace_ = false;
  bool nameTaken_ = false;
};

// The TIFF codecs of the new TIFF writer.
enum class Codec : uint8_t { None, Lzw, Deflate, Zstd, Jpeg, WebP };

// What an output is written as: its kind and the options that apply to it
// (the format table, formats.h, says which do).
struct OutputFormat {
  FileKind kind = FileKind::Tiff;
  bool lzw = false;        // the original TIFF kinds: one row per strip, uncompressed or LZW
  bool tuned = false;      // TIFF by the new writer, with the options below; keeps alpha and gray
  Codec codec = Codec::None;
  int level = -1;          // Deflate 1-9, ZSTD 1-19, PNG 0-9; -1: the library's default
  int quality = 85;        // JPEG and WebP, 1-100
  bool lossless = false;   // WebP
  bool chroma444 = false;  // JPEG: full chroma instead of 4:2:0
  bool predictor = true;   // LZW, Deflate and ZSTD in the new TIFF writer: horizontal differencing
  uint32_t tileSide = 0;   // TIFF tiles of this side; 0: strips
  uint32_t rowsPerStrip = 0;  // TIFF strips of this many rows; 0: the writer's choice
  bool pyramid = false;    // TIFF: reduced-resolution levels after the full image
  bool psd = false;        // Photoshop: PSD (version 1) instead of PSB
};

// What an output keeps of its input where its format can hold it.
struct KeptFromInput {
  int channels = 3;  // of the lines handed to the writer: 3 or 4
  bool gray = false;
  double dpiX = 0, dpiY = 0;
  std::string icc;
};
KeptFromInput keptFrom(const ImageInfo& input);

struct OutputRequest {
  std::string basePath;  // the full path without extension
  OutputFormat format;
  uint32_t width = 0;
  uint32_t height = 0;
  int bits = 8;               // the input's: outputs never convert bits
  bool forceBigTiff = false;  // a TIFF output becomes BigTIFF whatever its size
  std::string inputPath;      // never overwritten
  KeptFromInput kept;
  std::string exactPath;      // the output's name as the user gave it; empty: basePath + the format's extension
};

struct OutputCreation {
  std::unique_ptr<ImageWriter> writer;  // null when not created
  Outcome outcome = Outcome::Failed;    // why not created (Declined: an existing file not to be replaced)
  std::string message;                  // why
  // What a run that creates several outputs says when this one was not created.
  std::string failureText(const std::string& action) const {
    return outcome == Outcome::Declined ? action + " " + path + ": it exists and was not replaced"
                                        : withReason(action + " " + path, message);
  }
  std::string path;                     // the output's name as far as the creation got
  bool bigTiff = false;
};

// Why an output named `path` is refused: it is the input itself.
std::string replacesInputText(const std::string& path);

// Pixel-data bytes above which a TIFF output becomes BigTIFF.
inline constexpr int64_t bigTiffThreshold = 4000000000LL;
// The size the BigTIFF rule judges: LZW can expand noisy data by half, the
// lossy codecs are judged as LZW, Deflate and ZSTD by a little.
int64_t tiffWorstCaseSize(int64_t rawSize, const OutputFormat& format);

// Creates an output: extension and BigTIFF decision, then the guards (never
// the input, an existing file replaced only as the context allows, enough
// room), then the file.
OutputCreation createOutput(const OutputRequest& request, const RunContext& context);

}  // namespace torvel
