// Burning as the command line and the end of an ingestion use it: plan folders onto discs,
// list the machine's recorders, and write a planned set to a recorder or to image files, with
// the questions between discs asked through user_interface().
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "disc/burner.h"
#include "disc/disc_writer.h"
#include "disc/recorder.h"

namespace cw {

struct BurnOutcome {
  bool ok = false;        // every disc written, or nothing to write
  std::size_t discs = 0;  // discs in the set
  int discs_burned = 0;
  std::string message;  // why the run ended early
};

using WriterViewCallback = std::function<void(const WriterView&)>;

// The optical recorders of this machine ("/dev/sr0 [VENDOR PRODUCT]").
bool list_drives(std::vector<RecorderInfo>& drives, std::string& message);

// Writes every disc of `set` through the recorder `recorder_id` of `system` (empty: the first
// one listed), one after the other. Unless `assume_yes`, the user is asked before each disc
// whether to burn it, and after a failure whether to retry the same disc; with `assume_yes` a
// failure ends the run. A set without discs shows "No images to burn." and succeeds.
// `changed` receives the writer's view as it changes, possibly from the writing thread.
BurnOutcome burn_discs(const DiscSet& set, DiscSystem& system, const std::string& recorder_id,
                       bool assume_yes, const WriterViewCallback& changed = {});

// Writes each disc of `set` to its own image file, FOLDER/<disc label>.iso, without questions.
BurnOutcome burn_discs_to_images(const DiscSet& set, const std::string& folder,
                                 const WriterViewCallback& changed = {});

// The burn command's text for a failed plan.
std::string plan_failure_text(const std::string& message);

// What the end of an ingestion hands over when the master preset's burn switches are on.
struct IngestionBurn {
  bool burn_primary = false;  // BurnPrimary
  bool burn_pre = false;      // BurnPre
  std::string primary_root;
  std::optional<std::string> backup_root;  // only when a pre-conversion backup was made
  std::vector<std::string> primary_folders;
  std::vector<std::string> pre_folders;
  int record_key = -1;
  std::uint64_t capacity = kDiscCapacity;
};

// Plans and writes the pre-conversion backup folders ("Pre-Conversion Backup") when asked and
// a backup was made, then the primary folders ("Primary Folders"). A plan that fails logs
// "Failed to burn: %s" and shows the message; the other plan still runs. True when both did
// what was asked.
bool burn_after_ingestion(const IngestionBurn& request, DiscSystem& system,
                          const std::string& recorder_id, bool assume_yes,
                          const WriterViewCallback& changed = {});

}  // namespace cw
