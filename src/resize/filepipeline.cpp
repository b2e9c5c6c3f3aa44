// The resize as passes over files: split into RAW tiles, each tile scaled by
// a worker from its file into a file, the results merged. Kept as the
// reference the direct pipeline is held to, byte for byte.
#include "resize/pipeline.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "engine/files.h"
#include "engine/leftovers.h"
#include "engine/reader.h"
#include "engine/rules.h"
#include "resize/plan.h"
#include "resize/tileresizer.h"

namespace torvel {

namespace {

void sleep50() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

void removeAll(const std::vector<std::string>& files) {
  for (const std::string& f : files) removeFile(f);
}

class FilePipeline {
 public:
  FilePipeline(const ResizeRequest& request, const RunContext& context) : request_(request), context_(context) {}
  RunResult run();

 private:
  RunResult refusal();
  RunResult passes();
  bool splitPass(uint32_t tileWidth, uint32_t tileHeight, uint32_t columns, uint32_t rows, long double divider);
  RunResult resizeTiles(const std::vector<std::string>& tiles, long double divider, std::vector<std::string>& resized);
  void finalStep(uint32_t tileWidth);
  bool scaleDirectly(long double factor);
  bool copyInputToTemp();
  bool isInput(const ImageInfo& image) const { return image.path == request_.input.path; }
  // Which outputs the user's input could be mistaken for.
  bool wouldReplaceInput(const std::string& outDir) const;
  void setResult(RunResult r) { result_ = std::move(r); }

  const ResizeRequest& request_;
  const RunContext& context_;
  std::string tempDir_;
  ImageInfo current_;  // the input, then each pass's merged image
  bool laterPass_ = false;
  uint32_t threshold_ = 0;
  RunResult result_;
};

RunResult FilePipeline::refusal() {
  const ImageInfo& in = request_.input;
  if (!fileExists(in.path) || !in.accepted) return context_.fail(Outcome::Refused, "File not found or bad file!");
  const std::string outDir = outputFolder(request_.chosenFolder, in.path);
  std::string text;
  if (folderOf(in.path) == outDir && request_.format.kind == in.kind)
    text = "Cannot overwrite input file";
  else if (in.width < 10000 && in.height < 10000)
    text = "Width and height of the input file must be > 10000";
  else if (tempDir_ = outDir + privateFolderPrefix + "/"; !folderExists(tempDir_) && ::mkdir(tempDir_.c_str(), 0777) != 0)
    text = "Cannot create the temporary directory " + tempDir_;
  if (text.empty()) return {};
  context_.errorBox(text);
  return {Outcome::Refused, text, {}};
}

RunResult FilePipeline::run() {
  RunResult refused = refusal();
  if (!refused.completed()) return refused;
  threshold_ = request_.fast ? request_.width : 2 * request_.width;
  current_ = request_.input;
  passes();
  releaseCachedPixels();
  ::rmdir(tempDir_.c_str());  // stays when something unknown is left in it
  return result_;
}

RunResult FilePipeline::passes() {
  for (;;) {
    const uint32_t w = current_.width, h = current_.height;
    const uint32_t tileWidth = passTileSize(w, request_.tileSide), tileHeight = passTileSize(h, request_.tileSide);
    uint32_t columns = tileCount(w, tileWidth), rows = tileCount(h, tileHeight);
    if (withinTwoPercent(w, h, request_.width, request_.height)) columns = rows = 0;
    long double factor;
    if (columns > 1 || rows > 1) {
      if (!splitPass(tileWidth, tileHeight, columns, rows, passDivider(w, request_.width, threshold_))) break;
    } else if (directScalingDue(w, h, request_.width, tileWidth, factor) &&
               int64_t{w} * h * current_.bytesPerPixel() > maxDirectBytes(request_.tileSide)) {
      // An image too large to scale in one piece gets one more pass by the factor.
      if (!splitPass(tileWidth, tileHeight, tileCount(w, tileWidth), tileCount(h, tileHeight), factor)) break;
    } else {
      finalStep(tileWidth);
      break;
    }
  }
  return result_;
}

// One split pass; false when it did not complete.
bool FilePipeline::splitPass(uint32_t tileWidth, uint32_t tileHeight, uint32_t columns, uint32_t rows,
                               long double divider) {
  const OutputFormat raw{FileKind::Raw, false};
  RunResult split = splitImage({current_, tileWidth, tileHeight, raw, tempDir_, "Step 1/4"}, context_);
  const std::vector<std::string>& tiles = split.written;
  std::vector<std::string> resized;
  RunResult merged = split;
  if (split.completed()) {
    merged = resizeTiles(tiles, divider, resized);
    context_.observer().progressEnd();
    if (merged.completed()) merged = mergeTiles({resized, columns, rows, raw, tempDir_, "Step 3/4", {}}, context_);
    removeAll(resized);
  }
  if (!merged.completed()) removeAll(tiles);
  if (laterPass_) removeFile(current_.path);  // never the user's input: that is the first pass's
  laterPass_ = true;
  if (!merged.completed()) {
    setResult(merged);
    return false;
  }
  current_ = probeImage(merged.written.front(), nullptr, false);
  return true;
}

RunResult FilePipeline::resizeTiles(const std::vector<std::string>& tiles, long double divider,
                                      std::vector<std::string>& resized) {
  RunObserver& observer = context_.observer();
  const size_t count = tiles.size();
  observer.progressBegin(static_cast<int64_t>(2 * count), "Step 2/4");
  std::unique_ptr<TileResizer> worker;  // one tile at a time: each scaling uses every core
  size_t next = 0, done = 0;
  RunResult result;
  while (result.completed()) {
    observer.status("Resizing tile " + std::to_string(next) + "/" + std::to_string(count));
    if (context_.cancelled()) {
      result = RunContext::cancelledResult();
      break;
    }
    if (!worker && next < count) {
      worker = std::make_unique<TileResizer>(tiles[next++], divider, request_.fast, current_.bits);
      try {
        worker->start();
      } catch (const std::exception& e) {
        worker.reset();
        result = context_.fail(Outcome::Failed, withReason("Error creating the resizer thread", e.what()));
        break;
      }
      observer.progress(static_cast<int64_t>(++done));
    }
    sleep50();
    if (next >= count && !worker) break;
    if (worker && worker->finished()) {
      if (worker->failed()) {
        result = context_.fail(Outcome::Failed, withReason("Error resizing the image", worker->failure()));
        break;
      }
      resized.push_back(worker->outputPath());
      removeFile(worker->sourcePath());
      worker.reset();
      observer.progress(static_cast<int64_t>(++done));
    }
  }
  if (result.completed() || !worker) return result;
  observer.status("Killing processes...");
  worker->wait();  // a running tile is never cut short
  if (!worker->outputPath().empty()) removeFile(worker->outputPath());
  return result;
}

// The user's input is never handed to a worker: a first pass that goes
// straight to the final scaling works on a size-named RAW copy in the
// temporary folder.
bool FilePipeline::copyInputToTemp() {
  const Region all{0, 0, current_.width, current_.height};
  RunResult copy = convertImage({current_, all, {FileKind::Raw, false}, tempDir_, "Step 1/4"}, context_);
  if (!copy.completed()) {
    setResult(copy);
    return false;
  }
  current_ = probeImage(copy.written.front(), nullptr, false);
  return true;
}

bool FilePipeline::scaleDirectly(long double factor) {
  if (isInput(current_) && !copyInputToTemp()) return false;
  TileResizer worker(current_.path, factor, request_.fast, current_.bits);
  worker.run();
  removeFile(current_.path);
  if (worker.failed()) {
    removeFile(worker.outputPath());
    setResult(context_.fail(Outcome::Failed, withReason("Error resizing the image", worker.failure())));
    return false;
  }
  current_ = probeImage(worker.outputPath(), nullptr, false);
  return true;
}

bool FilePipeline::wouldReplaceInput(const std::string& outDir) const {
  const std::string base = outputBase(outDir, current_.path, request_.format.kind, current_.width, current_.height);
  for (FileKind kind : {FileKind::Tiff, FileKind::Raw, FileKind::Kro})
    for (bool big : {false, true})
      if (sameFile(base + outputExtension(kind, big), request_.input.path)) return true;
  return false;
}

void FilePipeline::finalStep(uint32_t tileWidth) {
  long double factor;
  if (directScalingDue(current_.width, current_.height, request_.width, tileWidth, factor) && !scaleDirectly(factor))
    return;
  const std::string outDir = outputFolder(request_.chosenFolder, request_.input.path);
  if (wouldReplaceInput(outDir)) {
    context_.errorBox("Cannot overwrite input file");
    setResult({Outcome::Refused, "Cannot overwrite input file", {}});
  } else {
    const Region all{0, 0, current_.width, current_.height};
    setResult(convertImage({current_, all, request_.format, outDir, "Step 4/4"}, context_));
  }
  if (!isInput(current_)) removeFile(current_.path);
}

}  // namespace

RunResult resizeThroughFiles(const ResizeRequest& request, const RunContext& context) {
  return FilePipeline(request, context).run();
}

}  // namespace torvel
