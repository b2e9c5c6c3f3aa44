// The resize: each pass reads its tiles straight from the image into pixel
// blocks (the next tile while the current one is scaled on every core) and
// writes the scaled tiles straight into place in the pass's result; the last
// image is scaled in one piece and written into the chosen format. The fast
// method picks every output pixel's source by index instead, reading only
// the rows it needs. Both follow the plan of the passes exactly, so the bytes
// are those of the tile files the pipeline used to go through.
#include "resize/pipeline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <future>

#include "engine/files.h"
#include "engine/formats.h"
#include "engine/leftovers.h"
#include "engine/reader.h"
#include "engine/rules.h"
#include "engine/runsteps.h"
#include "engine/spans.h"
#include "engine/tilenames.h"
#include "resize/plan.h"
#include "resize/regionio.h"
#include "resize/resample.h"
#include "resize/resizerun.h"

namespace torvel {

namespace {

// Two source blocks are read ahead of the scaling when both fit in this.
constexpr int64_t overlapBudget = int64_t{768} << 20;

// A pass's tiles in the order they are scaled: band by band, left to right.
std::vector<TileJob> tileJobs(const ResizePass& p) {
  std::vector<TileJob> jobs;
  for (uint32_t r = 1, y = 0, outY = 0; r <= p.rows; ++r) {
    const uint32_t h = p.rowHeight(r), outH = p.scaled(h);
    for (uint32_t c = 1, x = 0, outX = 0; c <= p.columns; ++c) {
      const uint32_t w = p.columnWidth(c), outW = p.scaled(w);
      jobs.push_back({x, y, w, h, outX, outY, outW, outH});
      x += w;
      outX += outW;
    }
    y += h;
    outY += outH;
  }
  return jobs;
}

}  // namespace

// Why the resize cannot start; empty when nothing stands in the way.
std::string ResizeRun::refusal(const ResizePlan& plan) {
  const ImageInfo& in = request_.input;
  if (std::string refused = inputRefusal(in, "File not found or bad file!"); !refused.empty()) return refused;
  outDir_ = outputFolder(request_.chosenFolder, in.path);
  removeLeftovers(outDir_);
  if (!request_.outputPath.empty() && sameFile(request_.outputPath, in.path)) return replacesInputText(request_.outputPath);
  if (request_.outputPath.empty() && folderOf(in.path) == outDir_ && request_.format.kind == in.kind)
    return "Cannot overwrite input file: the output would go beside the input, as the same kind of file. Choose "
           "another output folder or another format";
  if (in.width < 10000 && in.height < 10000) return resizeSizeRefusal(in.width, in.height);
  return roomRefusal(plan);
}

// The run's private temporary folder, made once nothing else stands in the way.
bool ResizeRun::makeTemporaryFolder() {
  if (temp_.create(outDir_)) {
    tempDir_ = temp_.path();
    return true;
  }
  result_ = {Outcome::Refused,
             withReason("Cannot create the temporary directory " + outDir_ + privateFolderPrefix, systemErrorText(errno)),
             {}};
  return false;
}

// The temporary images (a stored copy of a compressed input, each pass's
// result) and the output must fit on the output's volume.
std::string ResizeRun::roomRefusal(const ResizePlan& plan) const {
  const ImageInfo& in = request_.input;
  const int64_t bytesPerPixel = 3 * in.bits / 8;
  int64_t bytes = int64_t{plan.finalWidth} * plan.finalHeight * in.bytesPerPixel();
  const bool scaled = !request_.fast && !plan.changesNothing();
  std::string why;
  if (scaled && !RegionReader::open(in, why)) bytes += int64_t{in.width} * in.height * bytesPerPixel;
  for (const ResizePass& p : plan.passes)
    if (scaled) bytes += int64_t{p.outputWidth} * p.outputHeight * bytesPerPixel;
  // The direct scaling's result waits in the temporary folder for the output.
  if (scaled && plan.directScaling) bytes += int64_t{plan.finalWidth} * plan.finalHeight * bytesPerPixel;
  if (diskFreeBytes(outDir_) > bytes) return {};
  return withReason("There is not enough space on the destination directory",
                    "the resize needs " + std::to_string((bytes >> 20) + 1) + " MB for its temporary images and output");
}

RunResult ResizeRun::run() {
  const ImageInfo& in = request_.input;
  const ResizePlan plan =
      planResize(in.width, in.height, in.bytesPerPixel(), in.bits, request_.width, request_.height, request_.fast,
                 request_.tileSide);
  if (std::string refused = refusal(plan); !refused.empty()) return {Outcome::Refused, refused, {}};
  if (!makeTemporaryFolder()) return result_;
  current_ = in;
  if (plan.changesNothing()) {
    if (request_.width >= in.width)
      context_.observer().note("the image is not enlarged: the output keeps " + std::to_string(in.width) + " × " +
                               std::to_string(in.height));
    convertCurrent();
  } else if (request_.fast) {
    pickByIndex(plan);
  } else {
    bool ok = true;
    for (const ResizePass& p : plan.passes) ok = ok && pass(p);
    if (ok) plan.directScaling ? scaleDirectly(plan) : convertCurrent();
  }
  adopt("");
  temp_.remove();
  releaseCachedPixels();
  return result_;
}

// The current image becomes `path` (none when empty); a temporary one before
// it goes. A temporary image is the user's, made smaller: what the output
// keeps of the input (gray, resolution, profile) comes with it.
void ResizeRun::adopt(const std::string& path) {
  if (current_.path != request_.input.path) removeFile(current_.path);
  current_ = path.empty() ? ImageInfo{} : probeImage(path);
  current_.gray = request_.input.gray;
  current_.dpiX = request_.input.dpiX;
  current_.dpiY = request_.input.dpiY;
  current_.icc = request_.input.icc;
}

// The current image as rows the passes read regions of: one that is not
// stored so is first converted to a RAW in the temporary folder. Null when
// that fails, with the run's result set.
std::unique_ptr<RegionReader> ResizeRun::storedReader() {
  std::string why;
  if (std::unique_ptr<RegionReader> reader = RegionReader::open(current_, why)) return reader;
  const Region all{0, 0, current_.width, current_.height};
  const RunResult copy = convertImage({current_, all, {FileKind::Raw, false}, tempDir_, 1, 4}, context_);
  if (!copy.completed()) {
    result_ = copy;
    return nullptr;
  }
  adopt(copy.written.front());
  std::unique_ptr<RegionReader> reader = RegionReader::open(current_, why);
  if (!reader) stopFailed(why);
  return reader;
}

bool ResizeRun::pass(const ResizePass& p) {
  std::unique_ptr<RegionReader> reader = storedReader();
  if (!reader) return false;
  const std::string path =
      tempDir_ + sizedName(tileBaseName(request_.input.path), p.outputWidth, p.outputHeight) + ".raw";
  bool done = false;
  try {
    RegionWriter writer(path, p.outputWidth, current_.bytesPerPixel());
    done = scaleTiles(p, *reader, writer);
    writer.close();
  } catch (const std::exception& e) {
    context_.observer().phaseEnded();
    removeFile(path);
    return stopFailed(e.what());
  }
  if (!done) {
    removeFile(path);
    result_ = RunContext::cancelledResult();
    return false;
  }
  adopt(path);
  return true;
}

// Reports that the run stops, once the cancel has been seen.
void ResizeRun::reportStopping() {
  RunObserver& observer = context_.observer();
  observer.phaseEnded();
  observer.phaseStarted({Phase::Stopping});
  observer.progressed({});
  observer.phaseEnded();
}

// Scales one tile into place: `done` counts its rows as they are made.
// False when cancelled.
bool ResizeRun::scaleTile(const TileJob& job, const PixelBlock& source, PixelBlock& scaled, RegionWriter& writer,
                          const Progress& at, int64_t& done) {
  if (job.outWidth == 0 || job.outHeight == 0) throw ImagingError("New width or height is zero.");
  if (job.outWidth == job.width && job.outHeight == job.height) {
    writer.write(job.outX, job.outY, source);  // the scaling changes nothing
  } else {
    if (!scaled.reshape(job.outWidth, job.outHeight))
      scaled = PixelBlock::forOverwrite(job.outWidth, job.outHeight, source.format());
    ResampleOptions options;
    options.cancel = context_.cancelToken();
    options.progress = [&, base = done](int64_t rows) {
      context_.observer().progressed({base + rows, 0, at.piece, at.pieces});
    };
    if (!scaleInto(source, scaled, ResizeFilter::Lanczos, options)) return false;
    writer.write(job.outX, job.outY, scaled);
  }
  done += job.outHeight;
  return true;
}

// Reads each tile (the next one while the current one is scaled, when two fit
// in memory), scales it and writes it into place; the progress counts a unit
// per tile read and per row scaled. False when cancelled.
bool ResizeRun::scaleTiles(const ResizePass& p, RegionReader& reader, RegionWriter& writer) {
  RunObserver& observer = context_.observer();
  const std::vector<TileJob> jobs = tileJobs(p);
  const PixelFormat format = formatOfBits(current_.bits);
  const TileJob& largest = jobs.front();
  PixelBlock blocks[2] = {PixelBlock::forOverwrite(largest.width, largest.height, format), PixelBlock()};
  const bool overlap = jobs.size() > 1 && 2 * blocks[0].bytes() <= overlapBudget;
  if (overlap) blocks[1] = PixelBlock::forOverwrite(largest.width, largest.height, format);
  PixelBlock scaled;
  auto load = [&](size_t i) {
    PixelBlock& b = blocks[overlap ? i % 2 : 0];
    b.reshape(jobs[i].width, jobs[i].height);
    reader.read(jobs[i].x, jobs[i].y, b);
  };
  const uint32_t tiles = static_cast<uint32_t>(jobs.size());
  int64_t total = tiles, done = 0;
  for (const TileJob& job : jobs) total += job.outHeight;
  observer.phaseStarted({Phase::ScalingTiles, total, 2, 4});
  std::future<void> next = std::async(std::launch::deferred, load, 0);
  for (uint32_t i = 0; i < tiles; ++i) {
    observer.progressed({done, 0, i, tiles});
    next.get();
    if (context_.cancelled()) return reportStopping(), false;
    observer.progressed({++done, 0, i, tiles});
    if (i + 1 < jobs.size()) next = std::async(overlap ? std::launch::async : std::launch::deferred, load, i + 1);
    if (!scaleTile(jobs[i], blocks[overlap ? i % 2 : 0], scaled, writer, {done, 0, i, tiles}, done)) {
      if (next.valid()) next.wait();
      return reportStopping(), false;
    }
  }
  observer.phaseEnded();
  return true;
}

RunResult resizeImage(const ResizeRequest& request, const RunContext& context) {
  return ResizeRun(request, context).run();
}

}  // namespace torvel
