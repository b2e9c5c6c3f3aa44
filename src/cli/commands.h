// The commands of torvel: each sets up a run as the window would and maps its
// outcome to an exit status.
#pragma once

#include "cli/arguments.h"
#include "engine/run.h"

namespace torvel::cli {

int runInfo(const Arguments& args, Prompt& prompt);
// A PNG of the image downsampled to --width, as the window's preview shows it.
int runPreview(const Arguments& args, const RunContext& context);
// convert, crop, split, merge and resize.
int runOperation(const Arguments& args, const RunContext& context);

}  // namespace torvel::cli
