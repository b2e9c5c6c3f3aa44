// The resize run, shared by the files that make it: the passes over tiles
// (pipeline.cpp) and the last steps, the direct scaling and the output
// (resizeoutput.cpp).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/leftovers.h"
#include "engine/run.h"
#include "engine/spans.h"
#include "engine/writer.h"
#include "resize/pipeline.h"
#include "resize/plan.h"
#include "resize/regionio.h"
#include "resize/resample.h"

namespace torvel {

struct TileJob {
  uint32_t x, y, width, height;          // in the pass's image
  uint32_t outX, outY, outWidth, outHeight;  // in its result
};

// The samples of the resize's lines: three, in the image's bits, host order.
inline PixelLayout resizeLayout(int bits) { return {bits, 3, true}; }

class ResizeRun {
 public:
  ResizeRun(const ResizeRequest& request, const RunContext& context) : request_(request), context_(context) {}
  RunResult run();

 private:
  std::string refusal(const ResizePlan& plan);
  std::string roomRefusal(const ResizePlan& plan) const;
  bool makeTemporaryFolder();
  std::unique_ptr<RegionReader> storedReader();
  bool pass(const ResizePass& pass);
  bool scaleTiles(const ResizePass& pass, RegionReader& reader, RegionWriter& writer);
  bool scaleTile(const TileJob& job, const PixelBlock& source, PixelBlock& scaled, RegionWriter& writer,
                 const Progress& at, int64_t& done);
  void reportStopping();
  bool scaleDirectly(const ResizePlan& plan);
  bool scaleIntoFile(const ResizePlan& plan, RegionReader& reader, const std::string& path);
  bool pickByIndex(const ResizePlan& plan);
  bool convertCurrent();
  using RowSource = std::function<bool(uint32_t row, uint8_t* line)>;
  bool writeOutput(uint32_t width, uint32_t height, const RowSource& rows);
  bool copyRows(ImageWriter& writer, const RowSource& rows);
  bool refuseReplacingInput(uint32_t width, uint32_t height);
  void adopt(const std::string& path);
  // Ends the run as failed, with the reason.
  bool stopFailed(const std::string& why) {
    result_ = {Outcome::Failed, withReason("Error resizing the image", why), {}};
    return false;
  }

  const ResizeRequest& request_;
  const RunContext& context_;
  PrivateFolder temp_;  // removed with the run, however it ends
  std::string tempDir_, outDir_;
  ImageInfo current_;  // the input, then each pass's result in the temporary folder
  RunResult result_;
};

}  // namespace torvel
