// The Start of an ingestion, without windows: the settings checks in order, the ingestion
// record with its client, project and card, the card folder and the backup folders (every
// question through the session's user interface), the parameter list and its record; then,
// once the monitor has run, the outcome in the record, the next starting number and the
// auto-eject request. Every early stop after the record exists leaves its reason in the
// record's result. Nothing here prints: texts go through the reporting functions, and the
// outcome says what happened so the front end can turn it into an exit status or a window.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/card_monitor.h"
#include "settings/param_list.h"

namespace cw {

struct PROPSET;

class AppSession;

// Marks a position of StartRequest::given that the request leaves to the presets.
inline const std::string kUnsetParam(1, '\0');
// A list of kParamCount positions, all kUnsetParam.
ParamList unset_param_list();

struct StartRequest {
  std::optional<std::string> preset;  // the master preset to use; the current one when unset
  bool cards_mode = false;
  // The source that replaces the master's "CardFolder" (the pending source, the image
  // chooser's folder, a card the command line names). Empty: the preset decides.
  std::string source;
  std::optional<std::vector<std::string>> chosen_images;  // the image chooser's or multi-camera list
  // Corrections of the chosen images' capture times (a multi-camera shoot); empty for none.
  CaptureShifts capture_shifts;
  // Write the corrected capture dates into the EXIF of the final copies (never the source or
  // the pre-conversion backup).
  bool write_exif_times = false;
  // Database choices by name, each added when new. Unset: the master's last choice, else the
  // "[unknown]" entry.
  std::optional<std::string> client, project, card_name;
  // Ask before adding a client, project or card record named above that the database does
  // not hold yet ("Add client "NAME"?"): the window, where a name is typed, asks; the command
  // line adds them and says "new".
  bool confirm_new_names = false;
  std::optional<std::string> notes;  // the preference "IngestionNotes" when unset
  // Settings given with the request: positions of the parameter list that stand for preset
  // values go into the master's working set, like edits in the main window that were not
  // saved (they stay for the rest of the session); the others go into the built list only.
  ParamList given = unset_param_list();
  // Further preset settings given with the request, key and value as text (checked as the
  // preset commands check them), applied after `given`.
  std::vector<std::pair<std::string, std::string>> preset_values;
  // GPS track files to load for this ingestion (the preset's "WantGPS" must be on).
  std::vector<std::string> gps_tracks;
  // The date ("ddmmyy") of those of them that are LOG files whose fixes carry none.
  std::string gps_track_date;
  // The front end's GPS window, offered when "WantGPS" is on and no track is loaded; it loads
  // tracks into the session (or switches "WantGPS" off). None: nothing is offered.
  std::function<void(AppSession&)> gps_window;
  // Prepare a dry run (dry_run_ingestion): no record is inserted and nothing is stored, not
  // even the database choices or the starting number.
  bool dry_run = false;
  // A name or folder specification that holds an unknown macro stops the Start; otherwise it
  // is only a warning.
  bool strict_macros = false;
  // Copies read back and compared with their sources; unset: the preference "VerifyCopies".
  std::optional<bool> verify_copies;
  // Copies of earlier runs read back even when unchanged; unset: the preference
  // "ReverifyCopies".
  std::optional<bool> reverify;
  // Movie times kept in UTC taken as the camera's local time; unset: the preference
  // "VideoTimesLocal". The session's macro environment carries it to every read of the run.
  std::optional<bool> video_times_local;
};

// Why the Start flow stopped before the run.
enum class StartStop {
  kNone,            // the run is prepared
  kNoSuchPreset,    // the request named a master preset that does not exist (no record)
  kNoPrimaryFolder, // the settings name no primary folder (no record)
  kPresetConflict,  // converter or post-conversion backup wanted without a pre-conversion
                    // backup (no record)
  kNoConverter,     // the converter is wanted and no converter program is set (no record)
  kUnknownMacro,    // a specification holds an unknown macro, with strict_macros (no record)
  kBadCard,         // the card folder is missing or unreadable, holds nothing to ingest, or
                    // holds a destination folder (no record when the card was known before
                    // it; otherwise the reason is the record's result)
  kNoGpsData,       // "Ingestion requires GPS data." (no record)
  kBadSetting,      // a preset value of the request was refused (no record)
  kRecordFailed,    // "Can't insert ingestion record into database."
  kNoCard,          // "No card chosen"
  kNoCamera,        // the source names a camera that is not connected or cannot be opened
  kBackupStopped,   // the user chose "Stop Ingestion"
  kNoBackup,        // "No pre-conversion backup folder"
  kNoPostBackup,    // "No post-conversion backup folder"
  kPrepareFailed,   // "Failed to prepare for ingestion"
  kNameDeclined,    // the user did not want a new client, project or card record (no record)
};

// The record's choices, by key and name. A choice the request did not name is the one of the
// last ingestion, carried over; one it named that did not exist is new (added by a real run).
// The text pane says which.
struct EntityChoice {
  int client = -1, project = -1, card = -1;
  std::string client_name, project_name, card_name;
  bool client_carried = false, project_carried = false, card_carried = false;
  bool client_new = false, project_new = false, card_new = false;
};

// An ingestion ready to run: its record, its parameters and its source.
struct PreparedIngestion {
  int ingestion_key = -1;
  EntityChoice entities;
  bool cards_mode = false;
  std::string source;  // the folder (or camera) slot 0 ingests in single-source mode
  std::time_t started = 0;
  bool verify_copies = true;  // every copy read back and compared with its source
  bool reverify = false;       // copies of earlier runs read back even when unchanged
  // The stored master preset when the run's key is all that changed in it: no later run reads
  // that key before storing its own, so it is written once the copies have begun
  // (save_deferred_choices) rather than ahead of them. Null when nothing waits.
  std::shared_ptr<PROPSET> deferred_choices;
};

// Writes what waits in `run.deferred_choices` (once; nothing when nothing waits).
void save_deferred_choices(PreparedIngestion& run);

struct StartOutcome {
  StartStop stop = StartStop::kNone;
  std::string folder;   // the backup folder that was missing (kNoBackup, kNoPostBackup)
  std::string message;  // why the Start stopped, as it was shown (kBadCard, kUnknownMacro)
  std::optional<PreparedIngestion> run;
};

// What is wrong with a card folder before anything is copied from it: it does not exist or
// cannot be read, it holds no file the extension filter takes (`include`, `extensions` as the
// master preset's filter gives them), or one of `destinations` lies inside it, so that the
// next ingestion of the card would take the archive too. Empty when the folder will do.
std::string card_folder_problem(const std::string& card, bool include,
                                const std::string& extensions,
                                const std::vector<std::string>& destinations);

// Shown when the converter is switched on and no converter program is set.
inline constexpr const char* kNoConverterMessage =
    "No DNG converter is set: set ConverterApp in the File Handling preset to the converter "
    "program, or switch KeepRaw off to copy raw files as they are.";

// The choices of the "Choose Backup Folder" question, in the order offered.
inline constexpr const char* kBackupChoices[] = {"Stop Ingestion", "Use Previous Folder",
                                                 "Choose Folder..."};

// Steps from the settings checks to the built parameter list. On success the session's
// presets hold the parameter list (CWParam::params) and the record holds its parameters.
StartOutcome prepare_ingestion(AppSession& session, const StartRequest& request);

// Runs a prepared dry run: the engine scans and names the source as a real run would and its
// report, in the text pane, lists where every image would go in every tree. Nothing is
// created, copied or recorded. False when the scan or the naming failed (the report says why).
bool dry_run_ingestion(AppSession& session, const PreparedIngestion& run);

// A metadata template named on the command line: a path as given, else a file of the program's
// data folder.
std::string metadata_template_of(const std::string& name_or_path);

// The names the Start's record choices offer, as the database lists them: the clients, the
// projects of `client`, the card records. Empty without a database.
std::vector<std::string> client_names(AppSession& session);
std::vector<std::string> project_names(AppSession& session, const std::string& client);
std::vector<std::string> card_record_names(AppSession& session);

// The "Choose Card" question ("Ingest from ..."): the recorded card, each connected camera,
// or another folder the user picks. The source chosen; empty when the user made no choice.
// A recorded card with no camera connected is taken without asking.
std::string choose_card(AppSession& session);

// The monitor for a prepared ingestion: the parameter list, the record and the session's
// macro environment, viewer and burn settings.
MonitorSetup monitor_setup(AppSession& session, const PreparedIngestion& run);

// What the Start flow does after the monitor: the single-source outcome texts and record
// result, the next starting number (stored in the preferences), the auto-eject request and
// "Finished". Returns the root to eject, if any.
struct FinishResult {
  bool success = false;
  std::optional<std::string> eject;  // the card to eject ("AutoEject" after a success)
};
FinishResult finish_ingestion(AppSession& session, const PreparedIngestion& run,
                              const MonitorOutcome& outcome);

}  // namespace cw
