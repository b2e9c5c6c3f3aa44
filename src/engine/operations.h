// The line-streaming operations: convert (and crop), split and merge. Each
// is a loop over an image reader and an image writer; none knows file kinds.
// They report through the context and return their outcome.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/image.h"
#include "engine/pyramidlayout.h"
#include "engine/run.h"
#include "engine/writer.h"

namespace torvel {

struct Region {
  uint32_t x = 0, y = 0, width = 0, height = 0;
};

// The output name of one input, without extension: the output folder, the
// input's base name, and for a RAW output its size.
std::string outputBase(const std::string& outDir, const std::string& inputPath, FileKind kind, uint32_t width,
                       uint32_t height);

struct ConvertRequest {
  ImageInfo input;  // as probed
  Region region;    // the whole image for Convert
  OutputFormat format;
  std::string outDir;      // ends in '/'
  int step = 0, steps = 0;  // its place in a run of several steps (a resize's)
  std::string outputPath;   // the output's name as the user gave it; empty: named after the input in outDir
};
RunResult convertImage(const ConvertRequest& request, const RunContext& context);
// The crop's checks of the region, then the conversion of it.
RunResult cropImage(const ConvertRequest& request, const RunContext& context);

struct SplitRequest {
  ImageInfo input;
  uint32_t tileWidth = 0, tileHeight = 0;
  OutputFormat format;
  std::string outDir;
};
// Completed or not, `written` lists the tiles written, band by band.
RunResult splitImage(const SplitRequest& request, const RunContext& context);

struct MergeRequest {
  std::vector<std::string> tiles;  // in any order: found by their names
  uint32_t columns = 0, rows = 0;
  OutputFormat format;
  std::string outDir;
  std::string selectedInput;  // the image the front end has chosen: never replaced either
  std::string outputPath;     // the output's name as the user gave it; empty: named after the tiles
};
RunResult mergeTiles(const MergeRequest& request, const RunContext& context);
// The selection's count check, then the merge.
RunResult mergeSelectedTiles(const MergeRequest& request, const RunContext& context);

struct PyramidRequest {
  ImageInfo input;
  PyramidSettings settings;
  std::string outDir;  // ends in '/'
};
// A zoomable tile pyramid of the input, with its viewer page: one pass over
// the input, every level made as the rows above it arrive.
RunResult makePyramid(const PyramidRequest& request, const RunContext& context);

}  // namespace torvel
