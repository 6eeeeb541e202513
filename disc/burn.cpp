// Plan-and-write flows for the command line and the end of an ingestion.
#include "disc/burn.h"

#include "disc/libburn_recorder.h"
#include "foundation/log.h"
#include "foundation/text.h"

namespace cw {

namespace {

constexpr const char* kBurnErrorText = "Error burning disc(s).";

// Plans one folder list and writes it; false, logged and shown, when either did not succeed.
bool plan_and_burn(const FolderBurn& burn, int record_key, std::uint64_t capacity,
                   DiscSystem& system, const std::string& recorder_id, const BurnQuestion& ask,
                   const OriginLookup& origins, const WriterViewCallback& changed) {
  const PlanRequest plan = burn_plan_request(burn, record_key, capacity);
  DiscSet set;
  std::string message;
  if (!plan_discs(plan, set, message)) {
    log_printf("Failed to burn: %s", message.c_str());
    alert_printf("%s", message.c_str());
    return false;
  }
  if (origins) origins(set);
  BurnOutcome outcome = burn_discs(set, system, recorder_id, ask, changed);
  if (!outcome.ok) {
    // The writer only logs why a disc failed (a read-back that names a changed file, say):
    // nobody has seen it yet.
    log_printf("Failed to burn: %s", outcome.message.c_str());
    if (!outcome.message.empty()) alert_printf("%s", outcome.message.c_str());
  }
  return outcome.ok;
}

}  // namespace

PlanRequest burn_plan_request(const FolderBurn& burn, int record_key, std::uint64_t capacity) {
  PlanRequest plan;
  plan.root = burn.root;
  plan.folders = burn.folders;
  plan.title = burn.title;
  plan.key = record_key;
  plan.capacity = capacity;
  return plan;
}

bool list_drives(std::vector<RecorderInfo>& drives, std::string& message) {
  LibburnSystem system;
  return system.recorders(drives, message);
}

BurnOutcome burn_discs(const DiscSet& set, DiscSystem& system, const std::string& recorder_id,
                       const BurnQuestion& ask, const WriterViewCallback& changed) {
  BurnOutcome outcome;
  outcome.discs = set.discs.size();
  if (set.discs.empty()) {
    // The writer names what the plan left off; without a disc it is not opened.
    for (const SkippedEntry& entry : set.skipped) ui_printf("%s\n", skipped_text(entry).c_str());
    alert_printf("%s", no_images_text());
    outcome.ok = true;
    return outcome;
  }
  DiscWriter writer(set, system, WriterCallbacks{changed, {}});
  if (!writer.open()) {
    outcome.message = kBurnErrorText;
    return outcome;
  }
  if (!recorder_id.empty()) {
    std::size_t i = 0;
    while (i < writer.recorders().size() && writer.recorders()[i].id != recorder_id) ++i;
    if (!writer.select_recorder(i)) {
      alert_printf("No recorder %s.", recorder_id.c_str());
      outcome.message = kBurnErrorText;
      return outcome;
    }
  }

  bool ask_first = static_cast<bool>(ask);
  while (!writer.all_written()) {
    WriterView view = writer.view();
    if (ask_first) {
      std::string question =
          view.status + "\n\n" + format_limited(1000, "Burn disc %s now?", view.disc_label.c_str());
      if (!ask(question)) break;
    }
    writer.burn();
    if (writer.wait()) {
      ask_first = static_cast<bool>(ask);
      continue;
    }
    view = writer.view();
    outcome.message = view.status;
    if (!ask || !ask(view.retry_prompt)) break;
    ask_first = false;  // the answer to the retry question was the go-ahead
  }
  outcome.discs_burned = writer.close();
  outcome.ok = writer.all_written();
  if (outcome.ok)
    outcome.message.clear();
  else if (outcome.message.empty())
    outcome.message = "Burning stopped before the last disc.";
  return outcome;
}

BurnOutcome burn_discs_to_images(const DiscSet& set, const std::string& folder,
                                 const WriterViewCallback& changed) {
  ImageFolderSystem system(folder);
  return burn_discs(set, system, std::string(), {}, changed);
}

std::string plan_failure_text(const std::string& message) {
  return message + "\r\n\r\nSee external log for details.";
}

bool burn_folder_sets(const std::vector<FolderBurn>& sets, int record_key, DiscSystem& system,
                      const std::string& recorder_id, const BurnQuestion& ask,
                      const OriginLookup& origins, std::uint64_t capacity,
                      const WriterViewCallback& changed) {
  bool ok = true;
  for (const FolderBurn& burn : sets)
    ok = plan_and_burn(burn, record_key, capacity, system, recorder_id, ask, origins,
                       changed) &&
         ok;
  return ok;
}

}  // namespace cw
