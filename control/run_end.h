// The end of an ingestion run, once every slot has ended: each slot's report in the text pane,
// the number-range folders renamed to their ranges, the image count and "SUCCESS" (or the
// errors) in the ingestion record, the viewer on the last folder, and the hand-offs that
// follow a run: the discs to burn and the card to eject. One implementation serves a single
// source and eight cards, the command line and the desktop program.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/run_verdict.h"
#include "control/viewer.h"
#include "disc/burn.h"
#include "ingest/slot_control.h"

namespace cw {

class CWPreset;
class Database;
class EngineContext;

// One slot as the run leaves it.
struct EndedSlot {
  bool filled = false;   // a card (or the single source) was in the slot
  bool counted = true;   // ticked and shown: its report and errors count (cards mode)
  bool error = false;    // the slot's error flag
  int image_count = 0;
  EngineContext* ctx = nullptr;  // the slot's last run; none when it never started
};

struct RunEndInput {
  bool cards_mode = false;
  bool stopped_by_user = false;
  std::time_t started = 0;
  int log_failures = 0;            // log_write_failures() when the run started
  std::vector<EndedSlot> slots;  // in slot order
  SlotControl* control = nullptr;  // the number ranges and burn lists of the run
  Database* database = nullptr;    // holds the ingestion record; none: nothing stored
  int ingestion_id = -1;
  const CWPreset* master = nullptr;  // viewer and burn switches; none: no viewer, no burns
  ProgramLauncher launch;            // starts the viewer
};

struct RunEndResult {
  bool success = false;
  std::string status_line;  // the monitor's status line after the run
  int images = 0;           // the sum of the slots' image counts
  std::vector<FolderBurn> burns;  // the discs the master preset's burn switches ask for
  RunVerdict verdict;             // what the window shows above the report
};

// Texts the end of a run shows.
inline constexpr const char* kNoCardsStatus = "Mount up to 8 cards and then press Refresh.";
// The first %s is what failed first (with its path), the second the support address.
inline constexpr const char* kIngestionErrorMessage =
    "Ingestion Error!\r\r%s\r\rDo not delete images from card until they have been "
    "successfully ingested.\r\rFor Technical Support, send an email to %s that includes a "
    "description of the problem, the version number, a copy of the main-window output, and the "
    "log file (Tools > View Log, or cardwright log path).";

// Everything after the slots ended, on the front end's thread.
RunEndResult end_run(RunEndInput& in);

// Where discs are written: the machine's recorders, or, when the preference "BurnImageFolder"
// names a folder, one image file per disc there.
std::unique_ptr<DiscSystem> burn_system();

// Writes the discs a run asked for: to the first recorder, or, when the preference
// "BurnImageFolder" names a folder, to one image file per disc there. With `ask` the user is
// asked before each disc (never for image files: there is no disc to insert). The manifests carry the hashes `database`'s ingest
// ledger holds for the files (when there is a database), so a copy that changed since it was
// verified fails its disc's read-back and is named. True when every set was written.
bool burn_after_run(const std::vector<FolderBurn>& burns, int record_key, const BurnQuestion& ask,
                    Database* database);

}  // namespace cw
