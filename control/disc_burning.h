// Disc burning: what `cardwright disc` and the Disc Burner window do. Folders of the archive
// are planned onto discs, the machine's recorders listed, and the planned discs written to a
// recorder or to image files while their progress is shown. The discs' manifests carry the
// hashes the ingest ledger holds for the planned files (disc_origins.h); a written disc is
// checked again with `cardwright verify --disc` (verify_archive.h).
//
// The plan, the writer and its view, and the console's progress line are the disc floor's
// own types (disc/burn.h, disc/burn_progress.h); the window drives the same DiscWriter the
// burns of the command go through.
#pragma once

#include <string>
#include <vector>

#include "control/disc_origins.h"
#include "disc/burn.h"
#include "disc/burn_progress.h"
#include "foundation/user_interface.h"

namespace cw {

// Plans `request` into `set`; false with `message` (also on the error trace). A set without
// discs means there is nothing to burn (no_images_text()).
bool plan_burn(const PlanRequest& request, DiscSet& set, std::string& message);

// The optical recorders of this machine ("/dev/sr0 [VENDOR PRODUCT]").
bool list_recorders(std::vector<RecorderInfo>& recorders, std::string& message);

// The questions between discs, put to `ui`; with `assume_yes` none is asked.
BurnQuestion burn_questions(UserInterface& ui, bool assume_yes);

// Writes every disc of `set` through the recorder `recorder_id`, asking before each disc and
// after a failure when `ask` is given (see burn_discs). `changed` receives the writer's view,
// possibly from the writing thread.
BurnOutcome burn_to_recorder(const DiscSet& set, const std::string& recorder_id,
                             const BurnQuestion& ask, const WriterViewCallback& changed = {});

// Writes each disc of `set` to its own image file, FOLDER/<disc label>.iso, without questions.
BurnOutcome burn_to_images(const DiscSet& set, const std::string& folder,
                           const WriterViewCallback& changed = {});

}  // namespace cw
