// Split: one pass over the input, each line cut into the open tiles of the
// current row band.
#include <memory>
#include <vector>

#include "engine/files.h"
#include "engine/formats.h"
#include "engine/operations.h"
#include "engine/rules.h"
#include "engine/runsteps.h"
#include "engine/spans.h"
#include "engine/tilenames.h"

namespace torvel {

namespace {

// The grid of a split: tile sides fitted to the image, and the columns and
// rows they make, the last ones taking the remainder.
struct SplitGrid {
  uint32_t width, height, tileWidth, tileHeight, columns, rows;
  SplitGrid(uint32_t w, uint32_t h, uint32_t tw, uint32_t th)
      : width(w), height(h), tileWidth(tw > w ? w : tw), tileHeight(th > h ? h : th),
        columns(tileCount(w, tileWidth)), rows(tileCount(h, tileHeight)) {}
  uint32_t columnWidth(uint32_t c) const { return pieceSize(width, tileWidth, c, columns); }
  uint32_t rowHeight(uint32_t r) const { return pieceSize(height, tileHeight, r, rows); }
};

class Splitter {
 public:
  Splitter(const SplitRequest& request, const RunContext& context, ImageReader& reader)
      : request_(request), context_(context), tileContext_(context), reader_(reader),
        grid_(request.input.width, request.input.height, request.tileWidth, request.tileHeight),
        prefix_(request.outDir + tileBaseName(request.input.path)) {}

  RunResult run();

 private:
  bool askOnce();
  bool createBand(uint32_t band);
  bool copyPasses(uint32_t band);
  bool copyBand(uint32_t band);
  bool writeTiles(const ImageReader::RowRun& run, const SpanConverter& convert);
  bool closeBand(bool copied);
  // Ends the run as cancelled, or with `text`; the tiles written stay listed.
  bool stopCancelled() { return stopWith(Outcome::Cancelled, RunContext::cancelledResult().message); }
  bool stopWith(Outcome outcome, const std::string& text) {
    result_.outcome = outcome;
    result_.message = text;
    return false;
  }
  bool stopReading() {
    return context_.cancelled() ? stopCancelled()
                                : stopWith(Outcome::Failed, withReason("Input file read error", reader_.error()));
  }

  const SplitRequest& request_;
  const RunContext& context_;
  RunContext tileContext_;  // the run's, once the question about existing tiles is answered
  ImageReader& reader_;
  SplitGrid grid_;
  std::string prefix_;
  std::vector<std::unique_ptr<ImageWriter>> tiles_;
  bool forceBigTiff_ = false;  // once tile (1, 1) is BigTIFF, every tile is
  uint32_t inputRow_ = 0;
  RunResult result_;
};

// One question for all the tiles that exist already, before any is written.
bool Splitter::askOnce() {
  std::vector<std::string> existing;
  for (uint32_t band = 1; band <= grid_.rows; ++band)
    for (uint32_t c = 1; c <= grid_.columns; ++c) {
      const std::string base = tileName(prefix_, grid_.columnWidth(c), grid_.rowHeight(band), c, band);
      const std::string plain = base + outputExtension(request_.format), big = base + outputExtension(request_.format, true);
      if (fileExists(plain)) existing.push_back(plain);
      if (big != plain && fileExists(big)) existing.push_back(big);
    }
  if (existing.empty()) return true;
  if (!context_.mayReplaceAll(existing))
    return stopWith(Outcome::Declined, existing.size() == 1 ? existing.front() + " exists and was not replaced"
                                                            : std::to_string(existing.size()) + " output files exist in " +
                                                                  request_.outDir + " and were not replaced");
  tileContext_ = context_.withOverwrite(Overwrite::Yes);
  return true;
}

RunResult Splitter::run() {
  if (!askOnce()) return result_;
  context_.observer().phaseStarted({Phase::Splitting, grid_.height});
  for (uint32_t band = 1; band <= grid_.rows && result_.completed(); ++band) closeBand(createBand(band) && copyPasses(band));
  context_.observer().phaseEnded();
  return result_;
}

// The band's rows, once per pass of tiles that take their planes one after the other.
bool Splitter::copyPasses(uint32_t band) {
  const uint32_t start = inputRow_;
  const int passes = tiles_.front()->passes();
  for (int pass = 0; pass < passes; ++pass) {
    if (pass > 0)
      for (auto& tile : tiles_) tile->beginPass(pass);
    inputRow_ = start;
    if (!copyBand(band)) return false;
  }
  return true;
}

bool Splitter::createBand(uint32_t band) {
  for (uint32_t c = 1; c <= grid_.columns; ++c) {
    const uint32_t w = grid_.columnWidth(c), h = grid_.rowHeight(band);
    const OutputRequest out{tileName(prefix_, w, h, c, band), request_.format, w, h, request_.input.bits,
                            forceBigTiff_, request_.input.path, keptFrom(request_.input)};
    OutputCreation made = createOutput(out, tileContext_);
    if (!made.writer)
      return stopWith(made.outcome == Outcome::Declined ? Outcome::Declined : Outcome::Failed,
                      made.failureText("Cant't create file"));
    if (c == 1 && made.bigTiff) forceBigTiff_ = true;
    tiles_.push_back(std::move(made.writer));
  }
  return true;
}

// The rows go in the runs the reader holds, each tile's part of a run with
// one write where the tiles take the rows as they are. Every row is
// reported, and a cancel stops the band after it.
bool Splitter::copyBand(uint32_t band) {
  const SpanConverter convert(reader_.info().layout(), tiles_.front()->info().layout());
  const uint32_t bandHeight = grid_.rowHeight(band);
  if (band == 1) readRunsFor(reader_, convert, *tiles_.front());
  if (context_.cancelled()) return stopCancelled();
  for (uint32_t r = 0; r < bandHeight;) {
    const ImageReader::RowRun run = reader_.readRows(inputRow_, bandHeight - r);
    if (!run.rows) return stopReading();
    if (!writeTiles(run, convert)) return false;
    for (uint32_t i = 0; i < run.count; ++i, ++r) {
      context_.observer().progressed({++inputRow_, bandHeight - r, band, grid_.rows});
      if (context_.cancelled()) return stopCancelled();
    }
  }
  return true;
}

bool Splitter::writeTiles(const ImageReader::RowRun& run, const SpanConverter& convert) {
  uint32_t x = 0;
  for (uint32_t c = 1; c <= grid_.columns; ++c) {
    ImageWriter& tile = *tiles_[c - 1];
    if (!writeRunColumns(run, reader_.info(), convert, x, tile))
      return stopWith(Outcome::Failed, withReason("Write to file error", tile.error()));
    x += grid_.columnWidth(c);
  }
  return true;
}

// A split keeps the tiles it finished: a band's tiles take their names only
// once all their rows are written, and are removed otherwise.
bool Splitter::closeBand(bool copied) {
  bool ok = true;
  for (auto& tile : tiles_) {
    if (!copied)
      tile->discard();
    else if (tile->finish())
      result_.written.push_back(tile->info().path);
    else if (ok && result_.completed())
      ok = stopWith(tile->finishOutcome(), tile->finishFailureText());
  }
  tiles_.clear();
  return ok;
}

}  // namespace

RunResult splitImage(const SplitRequest& request, const RunContext& context) {
  const ImageInfo& input = request.input;
  if (std::string refusal = inputRefusal(input, "File not found or bad file!"); !refusal.empty())
    return {Outcome::Refused, refusal, {}};
  // Never passed by the window; refused before anything is written.
  if (request.tileWidth == 0 || request.tileHeight == 0 || input.width == 0 || input.height == 0)
    return {Outcome::Refused, "Invalid tile size", {}};
  RunResult failure;
  std::unique_ptr<ImageReader> reader = openRunInput(input, context, failure);
  if (!reader) return failure;
  return Splitter(request, context, *reader).run();
}

}  // namespace torvel
