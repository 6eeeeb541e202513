// An ingestion from the command line, from the Start flow to the exit status: the run on the
// terminal (one source, or every mounted card), the outcome in the record, the discs the
// master preset asks for, the card ejected when "AutoEject" is on, and the JSON of --json.
// `cardwright ingest`, `watch` and `multicam ingest` all end here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/cli.h"
#include "app/console_ui.h"
#include "control/app_session.h"
#include "control/start_flow.h"

namespace cw::app {

struct ConsoleIngestOptions {
  bool json = false;        // the counters as JSON on standard output instead of the report
  bool assume_yes = false;  // answer Yes to every question
  std::vector<std::string> skip_roots;  // cards mode: card roots left unticked
};

// --client, --project and --card-name: the record an ingestion goes under, each added when new.
// `ingest` and `watch` share them.
// `options` with those three inserted after the option `after` (at the end when it is absent).
std::vector<OptionSpec> with_record_name_options(std::vector<OptionSpec> options,
                                                 std::string_view after);
// Puts those options into the request: -1 to go on, 2 after a usage message for an empty name.
int record_names_from_options(const char* command, const Args& args, StartRequest& request);

// Turns the parsed options of `cardwright ingest` (those of ingest_command(), which commands
// that bring their own images share) into a request. -1 to go on, else the exit status (2,
// after a usage message naming the option and its value).
int ingest_request_from_options(const char* command, const Args& args, StartRequest& request,
                                ConsoleIngestOptions& options);

// Runs `request` in the started session (or its dry run). Returns the exit status: 0 success,
// 1 failure (the Start stopped at a folder, a card or a setting, or the run failed), 2 bad
// usage (no card or no archive folder named, an unknown preset, settings that contradict).
int run_console_ingestion(AppSession& session, ConsoleUserInterface& ui,
                          const StartRequest& request, const ConsoleIngestOptions& options);

// The first run on a terminal: when the master preset was never saved, asks for the archive
// and backup folders ('cardwright init') before the first ingestion.
enum class SetupOffer { kNotNeeded, kDone, kFailed };
SetupOffer offer_first_run_setup(AppSession& session, ConsoleUserInterface& ui);

}  // namespace cw::app
