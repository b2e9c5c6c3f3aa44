// Convert and crop: one line loop that copies a region of the input into a
// new output, one input line and one output line in memory.
#include "engine/files.h"
#include "engine/operations.h"
#include "engine/rules.h"
#include "engine/runsteps.h"
#include "engine/spans.h"
#include "engine/tilenames.h"

namespace torvel {

std::string inputRefusal(const ImageInfo& input, const std::string& missing) {
  if (!fileExists(input.path)) return missing;
  return input.accepted ? "" : refusalText(input);
}

std::unique_ptr<ImageReader> openRunInput(const ImageInfo& input, const RunContext& context, RunResult& failure) {
  std::string why;
  std::unique_ptr<ImageReader> reader = openReader(input, why);
  if (reader) {
    reader->setCancel(context.cancelToken());
    reader->readAhead();
    return reader;
  }
  failure = {Outcome::Failed, withReason("Error opening input file " + input.path, why), {}};
  return nullptr;
}

std::string outputBase(const std::string& outDir, const std::string& inputPath, FileKind kind, uint32_t width,
                       uint32_t height) {
  const std::string base = outDir + tileBaseName(inputPath);
  return kind == FileKind::Raw ? sizedName(base, width, height) : base;
}

void readRunsFor(ImageReader& reader, const SpanConverter& convert, const ImageWriter& writer) {
  if (convert.copies() && writer.writesRowsDirectly()) reader.readAhead(directRunBytes);
}

bool writeRunColumns(const ImageReader::RowRun& run, const ImageInfo& input, const SpanConverter& convert, uint32_t x,
                     ImageWriter& writer) {
  const size_t stride = static_cast<size_t>(input.lineBytes());
  if (convert.copies())
    return writer.writeRows(run.rows + x * static_cast<size_t>(input.bytesPerPixel()), stride, run.count);
  for (uint32_t i = 0; i < run.count; ++i) {
    convert(run.rows + i * stride, x, writer.line(), 0, writer.info().width);
    if (!writer.writeRow()) return false;
  }
  return true;
}

namespace {

// A failed read: cancelled when the caller asked (a band of tiles stops
// early), else the reader's reason.
RunResult readFailure(const ImageReader& reader, const RunContext& context) {
  if (context.cancelled()) return RunContext::cancelledResult();
  return {Outcome::Failed, withReason("Read file error", reader.error()), {}};
}

// Rows above the region of an input read only in order are read and dropped.
RunResult skipRows(ImageReader& reader, uint32_t rows, const RunContext& context) {
  RunObserver& observer = context.observer();
  observer.phaseStarted({Phase::Skipping, rows});
  for (uint32_t i = 0; i < rows; ++i) {
    if (context.cancelled()) return RunContext::cancelledResult();
    if (!reader.readRow(i)) return readFailure(reader, context);
    observer.progressed({i + 1, rows - i});
  }
  observer.phaseEnded();
  return {};
}

// The region's rows into the writer, once per pass of a writer that takes
// its planes one after the other.
RunResult copyRows(ImageReader& reader, ImageWriter& writer, const ConvertRequest& request, const RunContext& context) {
  RunObserver& observer = context.observer();
  const Region& region = request.region;
  const SpanConverter convert(reader.info().layout(), writer.info().layout());
  const int passes = writer.passes();
  readRunsFor(reader, convert, writer);
  observer.phaseStarted({Phase::Copying, int64_t{region.height} * passes, request.step, request.steps});
  for (int pass = 0; pass < passes; ++pass) {
    if (pass > 0) writer.beginPass(pass);
    if (context.cancelled()) return RunContext::cancelledResult();
    for (uint32_t c = 0; c < region.height;) {
      const ImageReader::RowRun run = reader.readRows(region.y + c, region.height - c);
      if (!run.rows) return readFailure(reader, context);
      if (!writeRunColumns(run, reader.info(), convert, region.x, writer))
        return {Outcome::Failed, withReason("Write to file error", writer.error()), {}};
      for (uint32_t i = 0; i < run.count; ++i, ++c) {
        observer.progressed({int64_t{pass} * region.height + c + 1, region.height - c});
        if (context.cancelled()) return RunContext::cancelledResult();
      }
    }
  }
  return {};
}

}  // namespace

RunResult convertImage(const ConvertRequest& request, const RunContext& context) {
  const ImageInfo& input = request.input;
  const Region& region = request.region;
  if (std::string refusal = inputRefusal(input, "File not found"); !refusal.empty())
    return {Outcome::Refused, refusal, {}};
  if (region.width == 0 || region.height == 0)
    return {Outcome::Refused, "The region to copy is empty: it must be at least one pixel wide and high", {}};
  RunResult result;
  std::unique_ptr<ImageReader> reader = openRunInput(input, context, result);
  if (!reader) return result;
  reader->useColumns(region.x, region.width);
  const OutputRequest out{outputBase(request.outDir, input.path, request.format.kind, region.width, region.height),
                          request.format, region.width, region.height, input.bits, false, input.path,
                          keptFrom(input), request.outputPath};
  OutputCreation made = createOutput(out, context);
  if (!made.writer) return {made.outcome, made.message, {}};

  if (reader->sequential()) result = skipRows(*reader, region.y, context);
  if (result.completed()) result = copyRows(*reader, *made.writer, request, context);
  context.observer().phaseEnded();
  if (!result.completed()) {
    made.writer->discard();
    return result;
  }
  if (!made.writer->finish()) return {made.writer->finishOutcome(), made.writer->finishFailureText(), {}};
  result.written.push_back(made.writer->info().path);
  return result;
}

RunResult cropImage(const ConvertRequest& request, const RunContext& context) {
  const Region& r = request.region;
  const std::string refusal = cropRefusal(request.input.width, request.input.height, r.x, r.y, r.width, r.height);
  if (!refusal.empty()) return {Outcome::Refused, refusal, {}};
  return convertImage(request, context);
}

}  // namespace torvel
