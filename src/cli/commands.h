// The commands of torvel: each sets up a run as the window would and maps its
// outcome to an exit status.
#pragma once

#include <string>
#include <vector>

#include "cli/arguments.h"
#include "engine/image.h"
#include "engine/run.h"

namespace torvel::cli {

int runInfo(const Arguments& args);
// A PNG of the image downsampled to --width, as the window's preview shows it.
int runPreview(const Arguments& args, const RunContext& context);
// The file manager's thumbnail: a PNG whose longer side is at most --size.
int runThumbnail(const Arguments& args, const RunContext& context);
// convert, crop, split, merge and resize.
int runOperation(const Arguments& args, const RunContext& context);
// Ends a run: the paths written and the completion line on stdout, or the
// reason and the outcome's line on stderr; the exit status.
int finish(const RunResult& result);
// With --quiet a completed run prints nothing.
void setQuiet(bool quiet);
// torvel pyramid.
int runPyramid(const Arguments& args, const RunContext& context);

// What the commands share: a path made absolute as a file dialog gives it;
// the input probed as the window's input selection does, limits included
// (the messages why not, when refused); a refused input's messages and
// outcome; the output folder as the window derives it.
std::string absolute(const std::string& path);
std::vector<std::string> selectInput(const std::string& file, const Arguments& a, ImageInfo& info);
int refuseInput(const std::vector<std::string>& messages);
// Why --out cannot be the output folder (missing, or a file); empty when it can.
std::string outFolderRefusal(const Arguments& a);
std::string outputDir(const Arguments& a, const std::string& input);

}  // namespace torvel::cli
