// Several inputs for one command: each file its own run, one after another or
// --jobs N at a time, one line per file and a summary; exit 0 only when every
// file completed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "engine/run.h"

namespace torvel::cli {

// The run of one input: `one` is the command line with that file as its only input.
using FileRun = std::function<RunResult(const Arguments& one, const RunContext& context)>;

// The inputs among `names`: files as given; with --recursive a folder stands
// for every image under it that torvel reads (by name), in name order.
std::vector<std::string> batchInputs(const Arguments& a, const std::vector<std::string>& names);
// Whether the command line names several inputs (or a folder): a batch.
bool isBatch(const std::vector<std::string>& names);
int runBatch(const Arguments& a, const std::vector<std::string>& files, const RunContext& context, const FileRun& run);

}  // namespace torvel::cli
