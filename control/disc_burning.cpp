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

BurnQuestion burn_questions(UserInterface& ui, bool assume_yes) {
  if (assume_yes) return {};
  return [&ui](const std::string& question) { return ui.ask_yes_no(question); };
}

BurnOutcome burn_to_recorder(const DiscSet& set, const std::string& recorder_id,
                             const BurnQuestion& ask, const WriterViewCallback& changed) {
  LibburnSystem drives;
  return burn_discs(set, drives, recorder_id, ask, changed);
}

BurnOutcome burn_to_images(const DiscSet& set, const std::string& folder,
                           const WriterViewCallback& changed) {
  return burn_discs_to_images(set, folder, changed);
}

}  // namespace cw
