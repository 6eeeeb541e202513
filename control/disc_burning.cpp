// Disc burning for `cardwright disc` and the Disc Burner window (see disc_burning.h).
#include "control/disc_burning.h"

#include "disc/libburn_recorder.h"

namespace cw {

bool plan_burn(const PlanRequest& request, DiscSet& set, std::string& message) {
  return plan_discs(request, set, message);
}

bool list_recorders(std::vector<RecorderInfo>& recorders, std::string& message) {
  return list_drives(recorders, message);
}

BurnOutcome burn_to_recorder(const DiscSet& set, const std::string& recorder_id, bool assume_yes,
                             const WriterViewCallback& changed) {
  LibburnSystem drives;
  return burn_discs(set, drives, recorder_id, assume_yes, changed);
}

BurnOutcome burn_to_images(const DiscSet& set, const std::string& folder,
                           const WriterViewCallback& changed) {
  return burn_discs_to_images(set, folder, changed);
}

}  // namespace cw
