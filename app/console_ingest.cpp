// The command line's ingestion: Start flow, monitor, end, hand-offs, JSON.
#include "app/console_ingest.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "app/commands.h"
#include "app/console_run.h"
#include "control/card_detection.h"
#include "foundation/log.h"
#include "platform/eject.h"
#include "platform/linux_drive_source.h"
#include "settings/param.h"

namespace cw::app {

namespace {

// Standard output carries the JSON alone under --json: whatever else might be written there
// while the run goes goes to standard error.
class StdoutToStderr {
 public:
  explicit StdoutToStderr(bool active) {
    if (!active) return;
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
  }
  ~StdoutToStderr() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  StdoutToStderr(const StdoutToStderr&) = delete;
  StdoutToStderr& operator=(const StdoutToStderr&) = delete;

 private:
  int saved_ = -1;
};

std::string without_trailing_slash(std::string root) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

// The mounted cards for the monitor's slots, those named in `skip` left unticked. False when
// the drives cannot be listed (the message was shown).
bool fill_cards(CardMonitor& monitor, const std::vector<std::string>& skip) {
  LinuxDriveSource drives;
  std::optional<std::vector<DriveEntry>> entries = EnumerateCardDrives(drives);
  if (!entries) return false;
  std::vector<MonitorCard> cards;
  for (const DriveEntry& e : *entries)
    if (e.selected) cards.push_back(MonitorCard{e.root, e.volume_name, e.device_name});
  monitor.refresh(cards);
  for (int slot = 0; slot < static_cast<int>(std::min<std::size_t>(cards.size(), kMonitorSlots)); ++slot)
    for (const std::string& root : skip)
      if (without_trailing_slash(root) == without_trailing_slash(cards[slot].root))
        monitor.set_ticked(slot, false);
  return true;
}

// The card that holds `folder`, ejected after a successful run when "AutoEject" is on.
void auto_eject(const std::string& folder) {
  LinuxDriveSource drives;
  std::optional<std::string> root = root_containing(drives, folder);
  if (root) EjectCard(*root);
}

}  // namespace

int run_console_ingestion(AppSession& session, ConsoleUserInterface& ui,
                          const StartRequest& request, const ConsoleIngestOptions& options) {
  const StartOutcome start = prepare_ingestion(session, request);
  switch (start.stop) {
    case StartStop::kNone: break;
    case StartStop::kNoPrimaryFolder:
      return usage_error("ingest", "no primary folder: give --primary DIR or set PrimaryFolder");
    case StartStop::kNoBackup:
      std::fprintf(stderr, "(give --backup DIR, or --no-backup to copy without a backup)\n");
      return 1;
    default:
      return 1;
  }
  const PreparedIngestion& prepared = *start.run;
  CardMonitor monitor(monitor_setup(session, prepared));
  MonitorOutcome outcome;
  {
    StdoutToStderr guard(options.json);
    if (!prepared.cards_mode) {
      outcome = run_on_console(monitor, ui, prepared.source, options.json);
    } else if (fill_cards(monitor, options.skip_roots)) {
      if (monitor.snapshot().card_count == 0) ui_print(std::string(kNoCardsStatus) + "\n");
      outcome = run_cards_on_console(monitor, ui, options.json);
    }
  }
  const FinishResult finished = finish_ingestion(session, prepared, outcome);
  const bool burned = burn_after_run(outcome.end.burns, prepared.ingestion_key, options.assume_yes);
  if (finished.eject) auto_eject(*finished.eject);
  if (options.json) {
    if (!prepared.cards_mode) {
      print_json(monitor.context(0), outcome.success);
    } else {
      const MonitorView view = monitor.snapshot();
      std::printf("[");
      bool first = true;
      for (int slot = 0; slot < kMonitorSlots; ++slot) {
        const SlotView& s = view.slots[static_cast<std::size_t>(slot)];
        if (!s.filled || !s.ticked) continue;
        std::printf("%s%s", first ? "" : ",\n ",
                    json_object(monitor.context(slot), !s.error, s.root).c_str());
        first = false;
      }
      std::printf("]\n");
    }
  }
  return outcome.success && burned ? 0 : 1;
}

}  // namespace cw::app
