// Merge: joins a complete grid of tiles, found by their names, line by line;
// one row band of tiles is open at a time.
#include <memory>
#include <set>
#include <vector>

#include "engine/files.h"

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
    return path.empty() ? ImageInfo{} : probeImage(path);
  }
  bool measureCorners();
  bool openBand(uint32_t row);
  bool copyBand(uint32_t row);
  bool stopWith(Outcome outcome, const std::string& text) {
    result_ = {outcome, text, {}};
    return false;
  }
  // A tile that is missing or refused, and why.
  bool refuseTile(uint32_t column, uint32_t row, const ImageInfo& tile) {
    const std::string why = index_.find(column, row).empty() ? "no file was selected for it" : refusalText(tile);
    return stopWith(Outcome::Refused, withReason(tileText(column, row) + " is not valid", why));
  }

  const MergeRequest& request_;
  const RunContext& context_;
  TileIndex index_;
  MergeGeometry geometry_{request_.columns, request_.rows};
  ImageInfo first_;  // tile (1, 1): what the output keeps comes from it
  std::unique_ptr<ImageWriter> output_;
  std::vector<std::unique_ptr<ImageReader>> band_;
  std::vector<SpanConverter> converters_;
  uint32_t outputRow_ = 0;
  RunResult result_;
};

bool Merger::measureCorners() {
  first_ = probeTile(1, 1);
  const ImageInfo& first = first_;
  if (!first.accepted) return refuseTile(1, 1, first);
  const ImageInfo last = probeTile(request_.columns, request_.rows);
  if (!last.accepted) return refuseTile(request_.columns, request_.rows, last);
  geometry_.firstWidth = first.width;
  geometry_.firstHeight = first.height;
  geometry_.lastWidth = last.width;
  geometry_.lastHeight = last.height;
  geometry_.bits = last.bits;
  if (geometry_.usable()) return true;
  return stopWith(Outcome::Refused, "Found error in tile dimensions");
}

bool Merger::openBand(uint32_t row) {
  band_.clear();
  converters_.clear();
  for (uint32_t c = 1; c <= request_.columns; ++c) {
    const ImageInfo tile = probeTile(c, row);
    if (!tile.accepted) return refuseTile(c, row, tile);
    // A tile of another depth would overrun the output line: refused too.
    if (tile.width != geometry_.widthOf(c) || tile.height != geometry_.heightOf(row) || tile.bits != geometry_.bits)
      return stopWith(Outcome::Refused, tileText(c, row) + " is not valid: it is " + std::to_string(tile.width) +
                                            " × " + std::to_string(tile.height) + " at " + std::to_string(tile.bits) +
                                            " bits, where " + std::to_string(geometry_.widthOf(c)) + " × " +
                                            std::to_string(geometry_.heightOf(row)) + " at " +
                                            std::to_string(geometry_.bits) + " bits belong");
    std::string why;
    band_.push_back(openReader(tile, why));
    if (!band_.back()) return stopWith(Outcome::Failed, withReason(tileText(c, row) + " read error", why));
    band_.back()->setCancel(context_.cancelToken());
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
      if (!line && context_.cancelled()) return false;
      if (!line) return stopWith(Outcome::Failed, withReason(tileText(c, row) + " read error", band_[c - 1]->error()));
      converters_[c - 1](line, 0, output_->line(), x, geometry_.widthOf(c));
      x += geometry_.widthOf(c);
    }
    if (!output_->writeRow()) return stopWith(Outcome::Failed, withReason("Write to file error", output_->error()));
    observer.progressed({++outputRow_, bandHeight - r, row, request_.rows});
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
                          request_.format, width, height, geometry_.bits, false, request_.selectedInput,
                          keptFrom(first_), request_.outputPath};
  OutputCreation made = createOutput(out, context_);
  if (!made.writer) return {made.outcome, made.failureText("Cannot create the file"), {}};
  output_ = std::move(made.writer);

  context_.observer().phaseStarted({Phase::Merging, height});
  // Outputs that take their planes one after the other get every band once per plane.
  for (int pass = 0; pass < output_->passes() && result_.completed() && !context_.cancelled(); ++pass) {
    if (pass > 0) output_->beginPass(pass);
    outputRow_ = 0;
    for (uint32_t row = 1; row <= request_.rows; ++row)
      if (context_.cancelled() || !openBand(row) || !copyBand(row)) break;
  }
  band_.clear();
  if (context_.cancelled() && result_.completed()) result_ = RunContext::cancelledResult();
  if (result_.completed() && !output_->finish())
    stopWith(output_->finishOutcome(), output_->finishFailureText());
  else if (!result_.completed())
    output_->discard();
  context_.observer().phaseEnded();
  if (result_.completed()) result_.written.push_back(output_->info().path);
  return result_;
}

}  // namespace

RunResult mergeTiles(const MergeRequest& request, const RunContext& context) {
  if (request.tiles.empty()) return {Outcome::Refused, "No tiles were selected to merge", {}};
  if (request.columns == 0 || request.rows == 0)
    return {Outcome::Refused, "The grid of the tiles is empty: give its columns and rows", {}};
  return Merger(request, context).run();
}

namespace {

// The first positions of the grid that no selected file's name gives.
std::string missingTilesText(const MergeRequest& request) {
  std::set<std::pair<int32_t, int32_t>> given;
  for (const std::string& tile : request.tiles) {
    int32_t c = 0, r = 0;
    extractTileXY(fileNameOf(tile), c, r);
    given.insert({c, r});
  }
  std::string text;
  int listed = 0;
  for (uint32_t r = 1; r <= request.rows && listed < 3; ++r)
    for (uint32_t c = 1; c <= request.columns && listed < 3; ++c)
      if (!given.count({static_cast<int32_t>(c), static_cast<int32_t>(r)})) {
        text += (listed++ ? ", " : "\nMissing: ") + tileText(c, r);
      }
  return text;
}

}  // namespace

RunResult mergeSelectedTiles(const MergeRequest& request, const RunContext& context) {
  if (request.tiles.empty()) return {Outcome::Refused, "No tiles were selected to merge", {}};
  const int64_t expected = int64_t{request.columns} * request.rows;
  const std::string refusal = mergeCountRefusal(expected, request.tiles.size());
  if (!refusal.empty())
    return {Outcome::Refused, refusal + (expected > static_cast<int64_t>(request.tiles.size()) ? missingTilesText(request) : ""), {}};
  return mergeTiles(request, context);
}

}  // namespace torvel
