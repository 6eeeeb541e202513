// Burning as the command line and the end of an ingestion use it: plan folders onto discs,
// list the machine's recorders, and write a planned set to a recorder or to image files, with
// the questions between discs asked through the caller's BurnQuestion.
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

// Puts a Yes/No question to the user between discs. An empty one answers without asking:
// every disc is written and a failure ends the run.
using BurnQuestion = std::function<bool(const std::string& question)>;

// The optical recorders of this machine ("/dev/sr0 [VENDOR PRODUCT]").
bool list_drives(std::vector<RecorderInfo>& drives, std::string& message);

// Writes every disc of `set` through the recorder `recorder_id` of `system` (empty: the first
// one listed), one after the other. When `ask` is given, the user is asked before each disc
// whether to burn it, and after a failure whether to retry the same disc; without it a
// failure ends the run. A set without discs shows "No images to burn." and succeeds.
// `changed` receives the writer's view as it changes, possibly from the writing thread.
BurnOutcome burn_discs(const DiscSet& set, DiscSystem& system, const std::string& recorder_id,
                       const BurnQuestion& ask, const WriterViewCallback& changed = {});

// Writes each disc of `set` to its own image file, FOLDER/<disc label>.iso, without questions.
BurnOutcome burn_discs_to_images(const DiscSet& set, const std::string& folder,
                                 const WriterViewCallback& changed = {});

// The burn command's text for a failed plan.
std::string plan_failure_text(const std::string& message);

// Folders of one tree that an ingestion leaves for discs ("Pre-Conversion Backup" or
// "Primary Folders"), as the end of the run lists them.
struct FolderBurn {
  std::string title;
  std::string root;
  std::vector<std::string> folders;
};

// The plan of one such tree, its discs labelled with the ingestion's record key.
PlanRequest burn_plan_request(const FolderBurn& burn, int record_key,
                              std::uint64_t capacity = kDiscCapacity);

// Fills in what is known of a planned set's files (their origins) before its discs are written.
using OriginLookup = std::function<void(DiscSet&)>;

// Plans and writes each set in order, the discs labelled with the ingestion's record key;
// `origins`, when given, fills each planned set's origins first. A plan that fails logs
// "Failed to burn: %s" and shows the message; the next set still runs. True when every set
// was written.
bool burn_folder_sets(const std::vector<FolderBurn>& sets, int record_key, DiscSystem& system,
                      const std::string& recorder_id, const BurnQuestion& ask,
                      const OriginLookup& origins = {},
                      std::uint64_t capacity = kDiscCapacity,
                      const WriterViewCallback& changed = {});

}  // namespace cw
