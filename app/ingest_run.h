// Running one ingestion from the command line: the console front end and the per-user log,
// progress while it runs, Ctrl-C as a stop request, and the report (or JSON) at the end.
#pragma once

#include <string>

#include "settings/param_list.h"

namespace cw {
class CWParam;
}

namespace cw::app {

struct RunOptions {
  bool json = false;        // print the counters as JSON instead of the report
  bool assume_yes = false;  // answer Yes to every question
  std::string notes;        // the notes text ({@notes})
  // The presets the run's macros read (those the ingestion was set up with); none: the user's
  // presets as saved.
  CWParam* settings = nullptr;
};

// What a finished run hands back for its ingestion record.
struct RunOutcome {
  bool ok = false;
  bool stopped = false;     // the user asked the run to stop
  int image_count = 0;      // images copied (set on success)
  int number_start = -1;    // lowest and highest image number given; -1 when none
  int number_stop = -1;
  long next_number = 1;     // the starting number for the next ingestion
};

// Runs `params` on `scan_root` as slot 0 and prints the outcome. Returns 0 or 1.
int run_ingestion(const ParamList& params, const std::string& scan_root,
                  const RunOptions& options, RunOutcome* outcome = nullptr);

// Reads a picked-files list: one path per line, empty lines ignored. False when the file
// cannot be read.
bool read_path_list(const std::string& file, std::vector<std::string>& paths);

}  // namespace cw::app
