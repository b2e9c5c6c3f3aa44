// The output options of the command line: --format from the format table,
// and the options that apply to it, each checked against what the chosen
// format takes.
#pragma once

#include "cli/arguments.h"
#include "engine/writer.h"

namespace torvel::cli {

// The output format the arguments ask for; throws UsageError with the reason
// for an unknown format, an option the format has no use for, or a value
// out of its range.
OutputFormat outputFormatOf(const Arguments& args);

}  // namespace torvel::cli
