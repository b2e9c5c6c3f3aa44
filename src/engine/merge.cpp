// Merge: joins a complete grid of tiles, found by their names, line by line;
// one row band of tiles is open at a time.
#include <memory>
#include <vector>

#include "engine/operations.h"
#include "engine/rules.h"
#include "engine/runsteps.h"
#include "engine/spans.h"
#include "engine/tilenames.h"

namespace torvel {

namespace {

std::string tileText(uint32_t column, uint32_t row) {
  return "Tile X=" + std::to_string(column) + " Y=" + std::to_string(row);
}

// The tile sizes every tile of the grid must have: those of the first tile,
// except the last column and row, which take those of the last tile.
struct MergeGeometry {
  uint32_t columns, rows;
  uint32_t firstWidth = 0, firstHeight = 0, lastWidth = 0, lastHeight = 0;
  int bits = 0;
  uint32_t widthOf(uint32_t c) const { return c < columns ? firstWidth : lastWidth; }
  uint32_t heightOf(uint32_t r) const { return r < rows ? firstHeight : lastHeight; }
  uint64_t outputWidth() const { return uint64_t{columns - 1} * firstWidth + lastWidth; }
  uint64_t outputHeight() const { return uint64_t{rows - 1} * firstHeight + lastHeight; }
  bool usable() const {
    const uint64_t w = outputWidth(), h = outputHeight();
    return firstWidth && firstHeight && lastWidth && lastHeight && w && h && w <= 0x7FFFFFFF && h <= 0x7FFFFFFF;
  }
};

class Merger {
 public:
  Merger(const MergeRequest& request, const RunContext& context)
      : request_(request), context_(context), index_(request.tiles) {}
  RunResult run();

 private:
  ImageInfo probeTile(uint32_t column, uint32_t row) const {
    const std::string path = index_.find(column, row);
    return path.empty() ? ImageInfo{} : probeImage(path, context_.prompt(), false);
  }
  bool measureCorners();
  bool openBand(uint32_t row);
  bool copyBand(uint32_t row);
  bool failed(Outcome outcome, const std::string& text) {
    result_ = context_.fail(outcome, text);
    return false;
  }

  const MergeRequest& request_;
  const RunContext& context_;
  TileIndex index_;
  MergeGeometry geometry_{request_.columns, request_.rows};
  std::unique_ptr<ImageWriter> output_;
  std::vector<std::unique_ptr<ImageReader>> band_;
  std::vector<SpanConverter> converters_;
  uint32_t outputRow_ = 0;
  RunResult result_;
};

bool Merger::measureCorners() {
  const ImageInfo first = probeTile(1, 1);
  if (!first.accepted) return failed(Outcome::Refused, "Tile X=1 Y=1 is not valid");
  const ImageInfo last = probeTile(request_.columns, request_.rows);
  if (!last.accepted) return failed(Outcome::Refused, tileText(request_.columns, request_.rows) + " is not valid");
  geometry_.firstWidth = first.width;
  geometry_.firstHeight = first.height;
  geometry_.lastWidth = last.width;
  geometry_.lastHeight = last.height;
  geometry_.bits = last.bits;
  if (geometry_.usable()) return true;
  context_.message("Found error in tile dimensions");
  result_ = {Outcome::Refused, "Found error in tile dimensions", {}};
  return false;
}

bool Merger::openBand(uint32_t row) {
  band_.clear();
  converters_.clear();
  for (uint32_t c = 1; c <= request_.columns; ++c) {
    const ImageInfo tile = probeTile(c, row);
    // A tile of another depth would overrun the output line: refused too.
    if (!tile.accepted || tile.width != geometry_.widthOf(c) || tile.height != geometry_.heightOf(row) ||
        tile.bits != geometry_.bits)
      return failed(Outcome::Refused, tileText(c, row) + " is not valid");
    std::string why;
    band_.push_back(openReader(tile, why));
    if (!band_.back()) return failed(Outcome::Failed, withReason(tileText(c, row) + " read error", why));
    converters_.emplace_back(tile.layout(), output_->info().layout());
  }
  return true;
}

bool Merger::copyBand(uint32_t row) {
  RunObserver& observer = context_.observer();
  const uint32_t bandHeight = geometry_.heightOf(row);
  for (uint32_t r = 0; r < bandHeight; ++r) {
    if (context_.cancelled()) return false;
    uint32_t x = 0;
    for (uint32_t c = 1; c <= request_.columns; ++c) {
      const uint8_t* line = band_[c - 1]->readRow(r);
      if (!line) return failed(Outcome::Failed, withReason(tileText(c, row) + " read error", band_[c - 1]->error()));
      converters_[c - 1](line, 0, output_->line(), x, geometry_.widthOf(c));
      x += geometry_.widthOf(c);
    }
    if (!output_->writeRow()) return failed(Outcome::Failed, withReason("Write to file error", output_->error()));
    if (++outputRow_ % 7 == 0) {
      observer.progress(outputRow_);
      if (context_.cancelled()) return false;
      observer.status("Processing row " + std::to_string(row) + "/" + std::to_string(request_.rows) + " (" +
                      std::to_string(bandHeight - r) + ")");
    }
  }
  return true;
}

RunResult Merger::run() {
  if (!measureCorners()) return result_;
  std::string base, ext;
  parseTileName(request_.tiles.front(), base, ext);
  const uint32_t width = static_cast<uint32_t>(geometry_.outputWidth());
  const uint32_t height = static_cast<uint32_t>(geometry_.outputHeight());
  const std::string outBase = request_.outDir + base;
  const OutputRequest out{request_.format.kind == FileKind::Raw ? sizedName(outBase, width, height) : outBase,
                          request_.format, width, height, geometry_.bits, false, request_.selectedInput};
  OutputCreation made = createOutput(out, context_);
  if (!made.writer) return context_.fail(made.outcome, "Cannot create the file " + made.path);
  output_ = std::move(made.writer);

  context_.observer().progressBegin(height, request_.caption);
  for (uint32_t row = 1; row <= request_.rows; ++row)
    if (context_.cancelled() || !openBand(row) || !copyBand(row)) break;
  band_.clear();
  if (context_.cancelled() && result_.completed()) result_ = RunContext::cancelledResult();
  if (result_.completed() && !output_->finish())
    failed(output_->finishOutcome(), output_->finishFailureText());
  else if (!result_.completed())
    output_->discard();
  context_.observer().progressEnd();
  if (result_.completed()) result_.written.push_back(output_->info().path);
  return result_;
}

}  // namespace

RunResult mergeTiles(const MergeRequest& request, const RunContext& context) {
  if (request.tiles.empty() || request.columns == 0 || request.rows == 0) return {Outcome::Refused, "", {}};
  return Merger(request, context).run();
}

RunResult mergeSelectedTiles(const MergeRequest& request, const RunContext& context) {
  if (request.tiles.empty()) return {Outcome::Refused, "", {}};
  const std::string refusal = mergeCountRefusal(int64_t{request.columns} * request.rows, request.tiles.size());
  if (!refusal.empty()) return context.fail(Outcome::Refused, refusal);
  return mergeTiles(request, context);
}

}  // namespace torvel
