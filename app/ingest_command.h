// The flags of `cardwright ingest`, shared with the commands that take the same flags and bring
// their own images (`cardwright multicam ingest`), and the run that follows them
// (app/console_ingest.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "control/start_flow.h"

namespace cw::app {

struct IngestArgs {
  // The flags' settings in request.given; positions no flag sets take the preset's value.
  StartRequest request;
  std::string card, files;              // --card, --files
  std::vector<std::string> skip_roots;  // --skip
  std::vector<std::string> operands;    // the words that are not flags
  bool json = false;
  bool assume_yes = false;
  bool help = false;
};

// Parses the ingest flags of `command` ("ingest", "multicam ingest"); argv holds what follows
// the command's name. -1 to go on, else the exit status (2, after a usage message).
int parse_ingest_flags(const char* command, int argc, char** argv, IngestArgs& args);

// Starts the session, lets `complete` (when given) finish the request, and runs the
// ingestion on the console. Returns the exit status; 1 when `complete` fails.
int run_ingest(IngestArgs& args, const std::function<bool(StartRequest&)>& complete);

}  // namespace cw::app
