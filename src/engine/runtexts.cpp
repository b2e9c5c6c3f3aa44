#include "engine/runtexts.h"

namespace torvel {

std::string captionText(const PhaseStart& phase) {
  if (phase.steps > 0) return "Step " + std::to_string(phase.step) + "/" + std::to_string(phase.steps);
  return phase.phase == Phase::Preview ? "Preview" : "";
}

std::string stepCaption(const PhaseStart& phase, const Progress& p) {
  const std::string step = captionText(phase);
  if (phase.steps == 0) return step;
  switch (phase.phase) {
    case Phase::Copying:
      return step + (phase.step == 1 ? ": copying the input to a work file" : ": writing the output");
    case Phase::ScalingTiles:
      if (p.pieces == 0) return step + ": resizing tiles";
      return step + ": resizing tile " + std::to_string(p.piece + 1) + " of " + std::to_string(p.pieces);
    case Phase::Scaling:
      return step + ": scaling to the final size";
    default:
      return step;
  }
}

std::string statusText(const PhaseStart& phase, const Progress& p) {
  const std::string left = " (" + std::to_string(p.rowsLeft) + ")";
  switch (phase.phase) {
    case Phase::Skipping:
      return "Skipping lines..." + left;
    case Phase::Copying:
      return "Saving lines..." + left;
    case Phase::Splitting:
    case Phase::Merging:
      return "Processing row " + std::to_string(p.piece) + "/" + std::to_string(p.pieces) + left;
    case Phase::ScalingTiles:
      return "Resizing tile " + std::to_string(p.piece + 1) + "/" + std::to_string(p.pieces);
    case Phase::Scaling:
      return "Resizing the image..." + left;
    case Phase::Stopping:
      return "Killing processes...";
    case Phase::Tiling:
      return "Writing tiles... (" + std::to_string(p.done) + ")";
    case Phase::Preview:
      break;
  }
  return {};
}

std::string outcomeText(Outcome outcome) {
  switch (outcome) {
    case Outcome::Completed:
      return "Operation completed successfully";
    case Outcome::Declined:
      return "Nothing was written";
    case Outcome::Refused:
      return "Operation refused";
    case Outcome::Failed:
      return "Operation failed";
    case Outcome::Cancelled:
      break;
  }
  return "Operation aborted";
}

}  // namespace torvel
