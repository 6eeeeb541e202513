// AppSession: the start-up of the program without windows, and the program-wide values the
// main window keeps between ingestions. The command-line program and the desktop program each
// create one, once, and every command and window stands on it: where the per-user files are,
// the run log, the presets, the database with its default rows and its start-up check, the
// shipped metadata templates, the outside tools, the version.
//
// A front end asks only for the start-up steps that apply to it (a command that shows a
// preference does not open the database); each step runs once, in the order the program's
// start-up gives them. While the session lives, its front end shows the log's alerts and text-pane
// lines, and every question of control/ is put to it.
//
// The session also holds the machine's services and passes them down: where the drives are
// read from, how a card is ejected, the cameras and the system-call table. Each is chosen once,
// here; tests give the session fakes.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/sysio.h"
#include "foundation/user_interface.h"
#include "gps/gpx.h"
#include "gps/tag_writer.h"
#include "platform/camera_source.h"
#include "platform/drive_source.h"

namespace cw {

class CWParam;
class Database;
class SettingsMacroEnvironment;

// Where the program keeps its files for this user.
struct SessionPaths {
  std::string data_location;  // the user's data folder ($XDG_DATA_HOME)
  std::string user_folder;    // data location + "/CardwrightPro"
  std::string log;            // user folder + "/cw_log.txt"
  std::string database;       // user folder + "/cw_main.sqlite3", or user@host:port/db
  std::string catalogue;      // what opens it: that file, or the server's URL (may hold a
                              // password: never shown)
  std::string templates;      // the metadata-template folder sidecars are made from
  std::string program_data;   // the program's own data files (shipped templates)
};

// The environment variable through which `--catalogue URL` reaches the session of a command.
inline constexpr const char* kCatalogueVariable = "CARDWRIGHT_CATALOGUE";
// The catalogue this run uses: the command's `--catalogue`, else the preference "Catalogue";
// empty for the embedded file.
std::string chosen_catalogue();
// Opens `catalogue` (making its tables and default rows when new) and makes it the preference
// "Catalogue"; an empty one goes back to the embedded file. `shown` receives what messages
// call it (never with a password). False after saying why.
bool choose_catalogue(const std::string& catalogue, std::string& shown);

// Outside programs, from the preferences or else found on PATH; empty when not found.
struct ToolPaths {
  std::string exiftool;
  std::string gpsbabel;
};

// Start-up steps a front end asks for (combine with |).
enum SessionStep : unsigned {
  kStepSettings = 1u << 0,       // open the property store and load the presets
  kStepDatabase = 1u << 1,       // open the database and install its default rows
  kStepVerifyDatabase = 1u << 2, // verify the links, repairing (with a backup) when needed
  kStepTemplates = 1u << 3,      // install the shipped metadata templates
  kStepLogSizeQuestion = 1u << 4,  // offer to clear a log of more than 2 MB
  kStepNotices = 1u << 5,        // the start-up notices of the main window (preset warning)
  kStepCameras = 1u << 6,        // make the camera source (cameras over USB)
};
// What a command that reads the user's settings needs.
inline constexpr unsigned kSessionSettings = kStepSettings;
// What a command that reads or changes the database needs: the check comes first, so that
// nothing acts on rows whose card, project or client went missing.
inline constexpr unsigned kSessionDatabase = kStepSettings | kStepDatabase | kStepVerifyDatabase;
// An ingestion (command line) and the desktop program.
inline constexpr unsigned kSessionIngest = kSessionDatabase | kStepTemplates | kStepCameras;
inline constexpr unsigned kSessionDesktop = kSessionIngest | kStepLogSizeQuestion | kStepNotices;

// The card the main window records as the current one (card detection), offered first when
// the user chooses a card.
struct RecordedCard {
  std::string path;   // the card's image folder
  std::string label;  // what the choice shows after "Card: "
};

// The machine's services a session hands to the commands and windows standing on it. Each one
// left empty is this system's own.
struct SessionServices {
  // Makes a drive source. A source serves one thread at a time, so every user (the drive
  // worker's thread, a run, a command) gets its own. None: this system's mounted drives.
  std::function<std::unique_ptr<DriveSource>()> drives;
  // Ejects the card mounted at a root, writing the diagnostic lines to `lines` (null: the log
  // only); true when the request was handled. Called from any thread. None: this system's.
  std::function<bool(const std::string& root, std::FILE* lines)> eject;
  // The cameras; none: cameras over USB when the session's steps ask for them, else no camera.
  // The session hands them to its runs, its macro environment and its tools.
  std::unique_ptr<CameraSource> cameras;
  // The system calls of the copy paths, installed while the session lives; none: the table in
  // effect.
  const Sysio* sysio = nullptr;
};

class AppSession {
 public:
  // Makes `ui` the front end of the log and of the session's questions, and runs the asked
  // start-up steps. A failure that ends the program (the user's data folder or the database
  // cannot be used) was shown and leaves ok() false.
  AppSession(UserInterface& ui, unsigned steps, SessionServices services = {});
  ~AppSession();
  AppSession(const AppSession&) = delete;
  AppSession& operator=(const AppSession&) = delete;

  bool ok() const { return ok_; }
  // False when the property store could not be opened ("PropInit failed" was shown); the
  // presets are then empty.
  bool settings_ok() const { return settings_ok_; }

  UserInterface& ui() { return ui_; }
  const SessionPaths& paths() const { return paths_; }
  const ToolPaths& tools() const { return tools_; }
  // The presets, loaded the way the program starts (empty without kStepSettings).
  CWParam& settings() { return *settings_; }
  // The open database, or null (not asked for, or it could not be opened).
  Database* database();
  // The macro environment of ingestions, the laboratory and the examiner: these presets, this
  // database and the notes text.
  SettingsMacroEnvironment& macro_environment() { return *macro_env_; }

  // A drive source of its own for the caller's thread.
  std::unique_ptr<DriveSource> open_drives() const;
  // Ejects the card mounted at `root` (see SessionServices::eject); true when handled.
  bool eject(const std::string& root, std::FILE* lines = nullptr) const;
  // The session's cameras (no camera when none were given or asked for).
  CameraSource& cameras() { return *cameras_; }

  // The program's version as the reports and the update check show it.
  static std::string version();

  // Program-wide values of the main window, kept between ingestions of this session.
  std::string previous_backup_folder;       // chosen when the configured one was missing
  std::string previous_backup_folder_post;
  std::string last_primary_folder;
  std::optional<RecordedCard> recorded_card;

  // The GPS tracks loaded for tagging; none while nothing is loaded.
  const GPX* gps_tracks() const { return gps_tracks_.get(); }
  // Loads tracks as the master preset's GPS settings say: `files` (GPX or LOG), or the
  // receiver on "GPSDevice" (its track kept in `save_file` when given). On failure `message`
  // says why and nothing stays loaded. `stop` ends a receiver read early (a failure).
  // `track_date` ("ddmmyy") dates LOG files whose fixes carry no date.
  bool load_gps(const std::vector<std::string>& files, const std::string& save_file,
                std::string& message, const StopSource& stop = {},
                const std::string& track_date = {});
  void discard_gps() { gps_tracks_.reset(); }
  // What the runs of an ingestion get: the tracks, the clock adjustment and ExifTool; null
  // while no tracks are loaded. Valid until the tracks change.
  const GpsRunSettings* gps_run_settings();

 private:
  void run_steps(unsigned steps);
  bool open_database();

  UserInterface& ui_;
  UserInterface* previous_ui_ = nullptr;
  bool ok_ = true;
  bool settings_ok_ = false;
  SessionPaths paths_;
  ToolPaths tools_;
  std::unique_ptr<CWParam> settings_;
  std::unique_ptr<Database> database_;
  std::unique_ptr<SettingsMacroEnvironment> macro_env_;
  std::function<std::unique_ptr<DriveSource>()> drives_;
  std::function<bool(const std::string&, std::FILE*)> eject_;
  std::unique_ptr<CameraSource> cameras_;
  std::optional<ScopedSysio> sysio_;
  std::unique_ptr<GPX> gps_tracks_;
  GpsRunSettings gps_run_;
};

}  // namespace cw
