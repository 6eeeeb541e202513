// The command line's ingestion: the control layer's run on the terminal, its exit status and JSON.
#include "app/console_ingest.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "app/commands.h"
#include "app/console_run.h"
#include "control/disc_burning.h"
#include "control/ingestion_run.h"
#include "control/settings_access.h"
#include "foundation/log.h"

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

constexpr const char* kNoCardUsage =
    "no card: give --card DIR (the card's image folder), --files FILE or --all-cards";

// The fix for a backup folder the Start flow found missing.
std::string backup_fix(const std::string& folder, bool post) {
  const std::string option = post ? "--post-backup" : "--backup";
  const std::string without =
      post ? "'cardwright preset set master Default WantBackupPost 0'" : "--no-backup";
  if (folder.empty())
    return std::string("no ") + (post ? "post-conversion" : "pre-conversion") +
           " backup folder is set, but the master preset asks for that backup: give " + option +
           " DIR (an existing folder), run 'cardwright init', or copy without it (" + without + ")";
  return "the backup folder \"" + folder + "\" does not exist: create it (mkdir -p '" + folder +
         "') once its disk is mounted, name another with " + option + " DIR, or copy without it (" +
         without + ")";
}

// The exit status and message of a Start that stopped before the run.
int stopped(const StartOutcome& start, AppSession& session, const StartRequest& request) {
  const char* cmd = "ingest";
  switch (start.stop) {
    case StartStop::kNoSuchPreset:
      return usage_error(cmd, "--preset '" + request.preset.value_or("") + "': no such master preset" +
                                  did_you_mean(request.preset.value_or(""),
                                               session.settings().master().names()) +
                                  "; 'cardwright preset list master' lists them");
    case StartStop::kNoPrimaryFolder:
      return usage_error(cmd, "no archive folder: give --primary DIR, or set one up with "
                              "'cardwright init'");
    case StartStop::kPresetConflict:
    case StartStop::kBadSetting:
      return usage_error(cmd, "the settings above exclude each other");
    case StartStop::kNoConverter:
      return usage_error(cmd, "give the converter with --converter PATH, or --converter none "
                              "to copy raw files as they are");
    case StartStop::kNoCard:
      return ConsoleUserInterface::interactive() ? 1 : usage_error(cmd, kNoCardUsage);
    case StartStop::kNoBackup:
    case StartStop::kNoPostBackup:
      return failure(cmd, backup_fix(start.folder, start.stop == StartStop::kNoPostBackup));
    default:
      return 1;
  }
}

// The record of the run for --json: its key and the names it was recorded under.
std::string record_fields(const PreparedIngestion& p) {
  return ", \"ingestion_id\": " + std::to_string(p.ingestion_key) +
         ", \"client\": " + json_string(p.entities.client_name) +
         ", \"project\": " + json_string(p.entities.project_name) +
         ", \"card_record\": " + json_string(p.entities.card_name);
}

}  // namespace

namespace {

const std::vector<OptionSpec>& record_name_options() {
  static const std::vector<OptionSpec> options{
      {"client", "NAME", "client of the ingestion, added when new (default: the last\n"
                         "ingestion's); the report's \"Client:\" line says which, and \"(new)\""},
      {"project", "NAME", "project of that client, added when new (default: the last\n"
                          "ingestion's while it belongs to the client, else \"[unknown]\")"},
      {"card-name", "NAME", "card record of the ingestion, added when new (default: the last\n"
                            "ingestion's)"},
  };
  return options;
}

}  // namespace

std::vector<OptionSpec> with_record_name_options(std::vector<OptionSpec> options,
                                                 std::string_view after) {
  auto at = std::find_if(options.begin(), options.end(),
                         [&](const OptionSpec& o) { return o.name == after; });
  if (at != options.end()) ++at;
  options.insert(at, record_name_options().begin(), record_name_options().end());
  return options;
}

int record_names_from_options(const char* command, const Args& args, StartRequest& request) {
  std::optional<std::string>* targets[] = {&request.client, &request.project, &request.card_name};
  for (std::size_t i = 0; i < std::size(targets); ++i) {
    const char* option = record_name_options()[i].name;
    std::optional<std::string> name = args.value(option);
    if (!name) continue;
    if (name->find_first_not_of(" \t") == std::string::npos)
      return bad_value(command, option, *name, "expects a name");
    *targets[i] = std::move(name);
  }
  return -1;
}

int run_console_ingestion(AppSession& session, ConsoleUserInterface& ui,
                          const StartRequest& request, const ConsoleIngestOptions& options) {
  // Without a terminal nobody can choose a card: a run that names none is bad usage, refused
  // before anything is recorded.
  const CWPreset& master = session.settings().master();
  if (request.source.empty() && !request.chosen_images && !request.cards_mode &&
      !ConsoleUserInterface::interactive() && master.get_int("AutoIngest") == 0 &&
      master.get_str("CardFolder").value_or("") == "[user choice]")
    return usage_error("ingest", kNoCardUsage);
  RunHooks hooks;
  hooks.burn = [&](const std::vector<FolderBurn>& burns, int record_key) {
    return burn_after_run(burns, record_key, burn_questions(session.ui(), options.assume_yes),
                          session.database());
  };
  hooks.eject = [&](const std::string& folder) { eject_card_holding(session, folder, stdout); };
  IngestionRun run(session, std::move(hooks));
  const StartOutcome& start = run.prepare(request);
  if (start.stop != StartStop::kNone) return stopped(start, session, request);
  const PreparedIngestion& prepared = *start.run;
  const EntityChoice& e = prepared.entities;
  if ((e.client_carried || e.project_carried || e.card_carried) && !options.json)
    std::fprintf(stderr, "(--client, --project and --card-name record an ingestion under others.)\n");
  if (request.dry_run) return run.dry_run() ? 0 : 1;
  {
    StdoutToStderr guard(options.json);
    if (!prepared.cards_mode) {
      run_on_console(run, ui, options.json);
    } else if (run.start(options.skip_roots)) {
      if (run.monitor().snapshot().card_count == 0) ui_print(std::string(kNoCardsStatus) + "\n");
      run_cards_on_console(run, ui, options.json);
    }
  }
  const RunFinish finished = run.finish();
  const CardMonitor& monitor = run.monitor();
  if (options.json) {
    if (!prepared.cards_mode) {
      print_json(monitor.context(0), finished.success, record_fields(prepared));
    } else {
      const MonitorView view = monitor.snapshot();
      std::printf("[");
      bool first = true;
      for (int slot = 0; slot < kMonitorSlots; ++slot) {
        const SlotView& s = view.slots[static_cast<std::size_t>(slot)];
        if (!s.filled || !s.ticked) continue;
        std::printf("%s%s", first ? "" : ",\n ",
                    json_object(monitor.context(slot), !s.error,
                                "\"card\": " + json_string(s.root) + ", ", record_fields(prepared))
                        .c_str());
        first = false;
      }
      std::printf("]\n");
    }
  }
  return finished.success && finished.burned ? 0 : 1;
}

}  // namespace cw::app
