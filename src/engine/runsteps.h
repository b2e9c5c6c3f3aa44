// Steps the operations share.
#pragma once

#include <memory>

#include "engine/reader.h"

namespace torvel {

// Opens a run's probed input; null after reporting why.
std::unique_ptr<ImageReader> openRunInput(const ImageInfo& input, const RunContext& context, RunResult& failure);

}  // namespace torvel
