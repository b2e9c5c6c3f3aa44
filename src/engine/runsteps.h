// Steps the operations share.
#pragma once

#include <memory>

#include "engine/reader.h"

namespace torvel {

// Why a run cannot start from `input`: `missing` when the file is gone, the
// probe's reasons when it was refused; empty when it can.
std::string inputRefusal(const ImageInfo& input, const std::string& missing);

// Opens a run's probed input, which follows the run's cancel; null with
// `failure` set.
std::unique_ptr<ImageReader> openRunInput(const ImageInfo& input, const RunContext& context, RunResult& failure);

}  // namespace torvel
