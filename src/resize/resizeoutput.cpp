// The last steps of a resize: the image scaled in one piece (or picked by
// index, the fast method), then written into the chosen format.
#include <algorithm>
#include <cstring>

#include "engine/bytefile.h"
#include "engine/files.h"
#include "engine/formats.h"
#include "engine/reader.h"
#include "engine/rules.h"
#include "engine/runsteps.h"
#include "resize/resizerun.h"

namespace torvel {

namespace {

// The scaled image goes to a file band by band, so that the run holds the
// image it scales and one band, never a second whole image.
constexpr int64_t scaledBandBytes = int64_t{32} << 20;

}  // namespace

// Scales the current image into `path` (a RAW of the resize's samples) as
// the "Step 3/4"; false with the run's result set.
bool ResizeRun::scaleIntoFile(const ResizePlan& plan, RegionReader& reader, const std::string& path) {
  RunObserver& observer = context_.observer();
  try {
    PixelBlock image = PixelBlock::forOverwrite(current_.width, current_.height, formatOfBits(current_.bits));
    reader.read(0, 0, image);
    const auto width = static_cast<int32_t>(plan.finalWidth), height = static_cast<int32_t>(plan.finalHeight);
    const BandScaler scaler(image, width, height);
    const int64_t rowBytes = int64_t{width} * formatInfo(image.format()).bytesPerPixel;
    const auto rows = static_cast<int32_t>(std::clamp<int64_t>(scaledBandBytes / rowBytes, 1, height));
    PixelBlock band = PixelBlock::forOverwrite(width, rows, image.format());
    ByteFile file;
    if (!file.createNew(path)) return stopFailed(withReason("Cannot create the file " + path, systemErrorText(file.takeError())));
    observer.phaseStarted({Phase::Scaling, plan.finalHeight, 3, 4});
    ResampleOptions options;
    options.cancel = context_.cancelToken();
    for (int32_t first = 0; first < height; first += rows) {
      const int32_t count = std::min(rows, height - first);
      band.reshape(width, count);
      options.progress = [&, first](int64_t done) { observer.progressed({first + done, plan.finalHeight - first - done + 1}); };
      if (!scaler.scaleRows(first, band, options)) {
        observer.phaseEnded();
        result_ = RunContext::cancelledResult();
        return false;
      }
      file.write(band.data(), static_cast<size_t>(rowBytes * count));
      if (int e = file.takeError()) {
        observer.phaseEnded();
        return stopFailed(withReason("Write to file error", systemErrorText(e)));
      }
    }
    observer.phaseEnded();
    file.close();
    if (int e = file.takeError()) return stopFailed(withReason("Write to file error", systemErrorText(e)));
  } catch (const std::exception& e) {
    observer.phaseEnded();
    return stopFailed(e.what());
  }
  return true;
}

bool ResizeRun::scaleDirectly(const ResizePlan& plan) {
  if (plan.finalWidth == 0 || plan.finalHeight == 0) return stopFailed("New width or height is zero.");
  const std::string scaledPath = tempDir_ + "scaled.raw";
  {
    std::unique_ptr<RegionReader> reader = storedReader();
    if (!reader || !scaleIntoFile(plan, *reader, scaledPath)) return false;
  }
  ByteFile scaled;
  if (!scaled.openRead(scaledPath)) return stopFailed(withReason("Read file error", systemErrorText(scaled.takeError())));
  const size_t rowBytes = size_t(plan.finalWidth) * static_cast<size_t>(resizeLayout(current_.bits).bytesPerPixel());
  const bool written = writeOutput(plan.finalWidth, plan.finalHeight, [&](uint32_t row, uint8_t* line) {
    if (scaled.readAt(int64_t(row) * int64_t(rowBytes), line, rowBytes) == rowBytes) return true;
    return stopFailed(withReason("Read file error", systemErrorText(scaled.takeError())));
  });
  scaled.close();
  removeFile(scaledPath);
  return written;
}

// The fast method: every output pixel's source picked by index, reading only
// the input rows that are used.
bool ResizeRun::pickByIndex(const ResizePlan& plan) {
  const ImageInfo& in = request_.input;
  if (plan.finalWidth == 0 || plan.finalHeight == 0) return stopFailed("New width or height is zero.");
  const std::vector<uint32_t> columns = nearestSources(plan, in.width, true);
  const std::vector<uint32_t> rows = nearestSources(plan, in.height, false);
  std::string why;
  std::unique_ptr<ImageReader> reader = openRunInput(in, context_, result_);
  if (!reader) return false;
  reader->readSparsely();
  const size_t bpp = static_cast<size_t>(in.bytesPerPixel());
  std::vector<uint8_t> picked(size_t(plan.finalWidth) * bpp);
  // Pixels become the resize's three samples as the passes' RAW tiles held them.
  const SpanConverter toResize(in.layout(), resizeLayout(in.bits));
  return writeOutput(plan.finalWidth, plan.finalHeight, [&](uint32_t row, uint8_t* line) {
    const uint8_t* source = reader->readRow(rows[row]);
    if (!source) return stopFailed(withReason("Read file error", reader->error()));
    for (size_t i = 0; i < columns.size(); ++i) std::memcpy(&picked[i * bpp], source + columns[i] * bpp, bpp);
    toResize(picked.data(), 0, line, 0, plan.finalWidth);
    return true;
  });
}

// Whether the output would be the user's input, whatever folder spelling reaches it.
bool ResizeRun::refuseReplacingInput(uint32_t width, uint32_t height) {
  const std::string base = outputBase(outDir_, request_.input.path, request_.format.kind, width, height);
  std::vector<std::string> names = {request_.outputPath};
  for (const OutputKind& kind : outputKinds())
    for (bool big : {false, true}) names.push_back(base + outputExtension(kind.format, big));
  for (const std::string& name : names)
    if (!name.empty() && sameFile(name, request_.input.path)) {
      result_ = {Outcome::Refused, replacesInputText(name), {}};
      return true;
    }
  return false;
}

bool ResizeRun::convertCurrent() {
  if (refuseReplacingInput(current_.width, current_.height)) return false;
  const Region all{0, 0, current_.width, current_.height};
  result_ = convertImage({current_, all, request_.format, outDir_, 4, 4, request_.outputPath}, context_);
  return result_.completed();
}

// The rows into the output, once per pass of a writer that takes its
// planes one after the other. False with the run's result set.
bool ResizeRun::copyRows(ImageWriter& writer, const RowSource& rows) {
  const ImageInfo& out = writer.info();
  const SpanConverter toOutput(resizeLayout(out.bits), out.layout());
  std::vector<uint8_t> line(size_t(out.width) * static_cast<size_t>(resizeLayout(out.bits).bytesPerPixel()));
  for (int pass = 0; pass < writer.passes(); ++pass) {
    if (pass > 0) writer.beginPass(pass);
    for (uint32_t row = 0; row < out.height; ++row) {
      if (context_.cancelled()) {
        result_ = RunContext::cancelledResult();
        return false;
      }
      if (!rows(row, line.data())) return false;
      toOutput(line.data(), 0, writer.line(), 0, out.width);
      if (!writer.writeRow()) return stopFailed(withReason("Write to file error", writer.error()));
      context_.observer().progressed({int64_t{pass} * out.height + row + 1, out.height - row});
    }
  }
  return true;
}

// The output in the chosen format, from rows of the resize's three samples,
// reported as a conversion is.
bool ResizeRun::writeOutput(uint32_t width, uint32_t height, const RowSource& rows) {
  if (refuseReplacingInput(width, height)) return false;
  const ImageInfo& in = request_.input;
  KeptFromInput kept = keptFrom(in);
  kept.channels = 3;  // the resize works on three samples
  const OutputRequest out{outputBase(outDir_, in.path, request_.format.kind, width, height), request_.format, width,
                          height, in.bits, false, in.path, kept, request_.outputPath};
  OutputCreation made = createOutput(out, context_);
  if (!made.writer) {
    result_ = {made.outcome, made.message, {}};
    return false;
  }
  ImageWriter& writer = *made.writer;
  RunObserver& observer = context_.observer();
  observer.phaseStarted({Phase::Copying, int64_t{height} * writer.passes(), 4, 4});
  const bool ok = copyRows(writer, rows);
  observer.phaseEnded();
  if (!ok) return false;
  if (!writer.finish()) {
    result_ = {writer.finishOutcome(), writer.finishFailureText(), {}};
    return false;
  }
  result_ = {Outcome::Completed, "", {writer.info().path}};
  return true;
}

}  // namespace torvel
