// Running one ingestion from the command line: the console front end and the per-user log,
// progress while it runs, Ctrl-C as a stop request, and the report (or JSON) at the end.
#pragma once

#include <string>

#include "ingest/param_list.h"

namespace cw::app {

struct RunOptions {
  bool json = false;        // print the counters as JSON instead of the report
  bool assume_yes = false;  // answer Yes to every question
  std::string notes;        // the notes text ({@notes})
};

// Runs `params` on `scan_root` as slot 0 and prints the outcome. Returns 0 or 1.
int run_ingestion(const ParamList& params, const std::string& scan_root,
                  const RunOptions& options);

// Reads a picked-files list: one path per line, empty lines ignored. False when the file
// cannot be read.
bool read_path_list(const std::string& file, std::vector<std::string>& paths);

}  // namespace cw::app
