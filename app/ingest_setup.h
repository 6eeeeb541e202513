// Starting an ingestion from the command line the way the main window's Start does: the
// master preset supplies the settings (flags override them), the client, project and card
// are chosen in the database, the ingestion record is inserted, the parameter list and the
// parameter record are built, the driver runs, and the outcome is stored in the record.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/ingest_run.h"
#include "settings/param_list.h"

namespace cw::app {

// Marks a position of IngestRequest::given that no flag set (no argument can hold it).
inline const std::string kUnsetParam(1, '\0');
// A list of kParamCount positions, all kUnsetParam.
ParamList unset_param_list();

struct IngestRequest {
  std::optional<std::string> preset;   // master preset name; the current one when absent
  std::optional<std::string> client;   // database choices by name; created when new
  std::optional<std::string> project;
  std::optional<std::string> card_name;
  std::optional<std::string> notes;    // the preference "IngestionNotes" when absent
  std::string source;                  // the card folder; the preset's "CardFolder" when empty
  std::optional<std::vector<std::string>> image_list;
  ParamList given = unset_param_list();  // values set by flags; the rest kUnsetParam
  RunOptions run;
};

// Runs the whole start of an ingestion and the run. Returns 0 success, 1 failure, 2 when
// the settings leave something required unnamed (no primary folder).
int start_ingestion(const IngestRequest& request);

}  // namespace cw::app
