// The texts the front ends show for a run's events: the progress caption and
// the status line. The window and the command line both build theirs here,
// so that they say the same; the engine itself never shows them.
#pragma once

#include <string>

#include "engine/run.h"

namespace torvel {

// "Step 2/4" for a step of a run of several, "Preview" for a preview, else empty.
std::string captionText(const PhaseStart& phase);
// The caption with what the step does: "Step 2/4: resizing tile 3 of 8".
std::string stepCaption(const PhaseStart& phase, const Progress& progress);
// The status line of a phase at a point of its progress: "Saving lines... (12)".
std::string statusText(const PhaseStart& phase, const Progress& progress);
// The line a run ends with when it did not complete: "Operation refused",
// "Operation failed", "Operation aborted" or "Nothing was written".
std::string outcomeText(Outcome outcome);

}  // namespace torvel
