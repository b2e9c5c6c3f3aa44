// The format table: every kind of file the program reads or writes, once,
// with its names, extensions and first bytes, what it can hold, its options,
// and the probe, reader and writer that serve it. The factories, the command
// line's --format list and help, the window's choices and the file dialogs'
// filters all come from here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/image.h"
#include "engine/reader.h"
#include "engine/writer.h"

namespace torvel {

struct InputFormat {
  FileKind kind;
  const char* name;        // "TIF": the dialog's filter and `info`'s kind
  const char* label;       // "TIFF"
  const char* extensions;  // "*.tif *.tiff", lower case
  // Whether a file's first bytes are of this format; null for RAW, which has no signature.
  bool (*recognises)(const uint8_t* head, size_t size);
  void (*probe)(ImageInfo& info, const RawGeometry& raw);
  std::unique_ptr<ImageReader> (*open)(const ImageInfo& info, std::string& why);
};

const std::vector<InputFormat>& inputFormats();
// "TIFF, RAW, KRO, Photoshop, PNG and JPEG": what the program reads, for messages.
std::string readableFormatsText();
const InputFormat* inputFormatOf(FileKind kind);
// The kind a file's first bytes say; None when they are none of ours.
FileKind kindOfContent(const uint8_t* head, size_t size);

// An output as the writers take it: the output's own description, how it is
// written, and whether a TIFF must be BigTIFF.
struct WriterSetup {
  ImageInfo info;
  OutputFormat format;
  bool bigTiff = false;
};
using WriterFactory = std::unique_ptr<ImageWriter> (*)(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                                       std::string& why);

// The options an output format takes, as flags.
enum OutputOption : uint32_t {
  optCompress = 1 << 0,
  optLevel = 1 << 1,
  optQuality = 1 << 2,
  optLossless = 1 << 3,
  optSubsampling = 1 << 4,
  optPredictor = 1 << 5,
  optTiles = 1 << 6,
  optRowsPerStrip = 1 << 7,
  optPyramid = 1 << 8,
};

struct OutputKind {
  const char* name;   // torvel --format
  const char* label;  // the window's choice
  const char* about;  // a line of help
  OutputFormat format;  // as written without options
  uint32_t options;     // the OutputOption flags that apply
  bool alpha, gray, sixteen;  // what it keeps: alpha, one gray channel, 16 bits
  uint32_t maxSide;           // the largest width or height it holds
  WriterFactory create;
};

// The TIFF options a codec takes beyond tiles and strips: level, quality,
// lossless, subsampling, predictor; and the largest level it takes.
uint32_t codecOptions(Codec codec);
int maxLevel(const OutputFormat& format);

const std::vector<OutputKind>& outputKinds();
// The entry of a --format name; null when there is none.
const OutputKind* outputKindNamed(const std::string& name);
// The entry `format` is written by.
const OutputKind& outputKindOf(const OutputFormat& format);
// "tif, tif-lzw, raw, kro, png, jpg, psb, psd": the names, for help texts.
std::string outputKindNames();
// The extension an output of `format` gets: ".tif" (".big.tif" for a BigTIFF), ".png"...
const char* outputExtension(const OutputFormat& format, bool bigTiff = false);
// Whether an output of `format` keeps the alpha channel, and a gray image as one channel.
bool keepsAlpha(const OutputFormat& format);
bool keepsGray(const OutputFormat& format);
// The channels an output of `format` stores from lines of `kept.channels`.
int outputChannels(const OutputFormat& format, const KeptFromInput& kept);
// What an output of `format` loses of `input`, said before the run: its
// alpha channel, or its gray (written as RGB); empty when nothing.
std::string lossNote(const OutputFormat& format, const ImageInfo& input);

// Why `format` cannot hold an image of this size and depth, with what to
// choose instead; empty when it can.
std::string formatRefusal(const OutputFormat& format, const ImageInfo& out);

}  // namespace torvel
