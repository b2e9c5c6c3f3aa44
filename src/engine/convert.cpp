// Convert and crop: one line loop that copies a region of the input into a
// new output, one input line and one output line in memory.
#include "engine/files.h"
#include "engine/operations.h"
#include "engine/rules.h"
#include "engine/runsteps.h"
#include "engine/spans.h"
#include "engine/tilenames.h"

namespace torvel {

std::unique_ptr<ImageReader> openRunInput(const ImageInfo& input, const RunContext& context, RunResult& failure) {
  std::string why;
  std::unique_ptr<ImageReader> reader = openReader(input, why);
  if (reader) return reader;
  if (why == notEnoughMemory) context.message("Torvel.OpenInFile : Not enough memory");
  failure = context.fail(Outcome::Failed, withReason("Error opening input file", why));
  return nullptr;
}

std::string outputBase(const std::string& outDir, const std::string& inputPath, FileKind kind, uint32_t width,
                       uint32_t height) {
  const std::string base = outDir + tileBaseName(inputPath);
  return kind == FileKind::Raw ? sizedName(base, width, height) : base;
}

namespace {

// Rows of a headerless input above the region are read and dropped.
RunResult skipRows(ImageReader& reader, uint32_t rows, const RunContext& context) {
  RunObserver& observer = context.observer();
  for (uint32_t i = 0; i < rows; ++i) {
    if (context.cancelled()) return RunContext::cancelledResult();
    const uint8_t* line = reader.readRow(i);
    if (i % 50 == 0) observer.progress(i);
    observer.status("Skipping lines... (" + std::to_string(rows - i) + ")");
    if (!line) return context.fail(Outcome::Failed, withReason("Read file error", reader.error()));
  }
  return {};
}

RunResult copyRows(ImageReader& reader, ImageWriter& writer, const Region& region, const RunContext& context) {
  RunObserver& observer = context.observer();
  const SpanConverter convert(reader.info().layout(), writer.info().layout());
  for (uint32_t c = 0; c < region.height; ++c) {
    if (context.cancelled()) return RunContext::cancelledResult();
    const uint32_t row = region.y + c;
    const uint8_t* line = reader.readRow(row);
    if (!line) return context.fail(Outcome::Failed, withReason("Read file error", reader.error()));
    convert(line, region.x, writer.line(), 0, region.width);
    if (!writer.writeRow()) return context.fail(Outcome::Failed, withReason("Write to file error", writer.error()));
    if (row % 7 == 0) observer.progress(row);
    observer.status("Saving lines... (" + std::to_string(region.height - c) + ")");
  }
  return {};
}

}  // namespace

RunResult convertImage(const ConvertRequest& request, const RunContext& context) {
  RunObserver& observer = context.observer();
  const ImageInfo& input = request.input;
  const Region& region = request.region;
  observer.status("");
  if (!fileExists(input.path) || !input.accepted) return context.fail(Outcome::Refused, "File not found");
  RunResult result;
  std::unique_ptr<ImageReader> reader = openRunInput(input, context, result);
  if (!reader) return result;
  reader->useColumns(region.x, region.width);
  const OutputRequest out{outputBase(request.outDir, input.path, request.format.kind, region.width, region.height),
                          request.format, region.width, region.height, input.bits, false, input.path};
  OutputCreation made = createOutput(out, context);
  if (!made.writer) return {made.outcome, made.message, {}};  // the creation has told the user

  observer.progressBegin(int64_t{region.y} + region.height, request.caption);
  if (reader->sequential()) result = skipRows(*reader, region.y, context);
  if (result.completed()) result = copyRows(*reader, *made.writer, region, context);
  observer.progressEnd();
  if (!result.completed()) {
    made.writer->discard();
    return result;
  }
  if (!made.writer->finish()) return context.fail(made.writer->finishOutcome(), made.writer->finishFailureText());
  result.written.push_back(made.writer->info().path);
  return result;
}

RunResult cropImage(const ConvertRequest& request, const RunContext& context) {
  const Region& r = request.region;
  const std::string refusal = cropRefusal(request.input.width, request.input.height, r.x, r.y, r.width, r.height);
  if (!refusal.empty()) return context.fail(Outcome::Refused, refusal);
  return convertImage(request, context);
}

}  // namespace torvel
