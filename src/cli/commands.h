// The commands of torvel: each sets up a run as the window would and maps its
// outcome to an exit status.
#pragma once

#include "cli/arguments.h"
#include "engine/run.h"

namespace torvel::cli {

int runInfo(const Arguments& args);
// A PNG of the image downsampled to --width, as the window's preview shows it.
int runPreview(const Arguments& args, const RunContext& context);
// convert, crop, split, merge and resize.
int runOperation(const Arguments& args, const RunContext& context);
// Ends a run: the paths written and the completion line on stdout, or the
// reason and the outcome's line on stderr; the exit status.
int finish(const RunResult& result);

}  // namespace torvel::cli
