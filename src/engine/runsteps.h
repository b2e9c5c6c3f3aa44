// Steps the operations share.
#pragma once

#include <memory>

#include "engine/reader.h"
#include "engine/spans.h"
#include "engine/writer.h"

namespace torvel {

// Why a run cannot start from `input`: `missing` when the file is gone, the
// probe's reasons when it was refused; empty when it can.
std::string inputRefusal(const ImageInfo& input, const std::string& missing);

// Opens a run's probed input, which follows the run's cancel; null with
// `failure` set.
std::unique_ptr<ImageReader> openRunInput(const ImageInfo& input, const RunContext& context, RunResult& failure);

// Long runs of rows read ahead where the writer takes them as they are.
void readRunsFor(ImageReader& reader, const SpanConverter& convert, const ImageWriter& writer);

// The writer's width of columns from `x` on, of a run of rows of `input`:
// the whole run at once, uncopied, when the layouts match (`convert`
// copies); else row by row, converted. False when a write failed.
bool writeRunColumns(const ImageReader::RowRun& run, const ImageInfo& input, const SpanConverter& convert, uint32_t x,
                     ImageWriter& writer);

}  // namespace torvel
