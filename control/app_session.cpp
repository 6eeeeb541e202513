// The program's start-up, step by step.
#include "control/app_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "control/templates.h"
#include "database/database.h"
#include "database/repair.h"
#include "device/camera_card.h"
#include "foundation/log.h"
#include "foundation/runner.h"
#include "gps/gps_source.h"
#include "ingest/card_layout.h"
#include "metadata/macro_settings_env.h"
#include "platform/eject.h"
#include "platform/linux_drive_source.h"
#include "platform/paths.h"
#include "settings/param.h"
#include "settings/param_record.h"
#include "settings/preferences.h"

namespace cw {

namespace {

constexpr const char* kLogFileName = "cw_log.txt";
// A log of more than this many bytes is offered for clearing at start-up.
constexpr off_t kLogSizeLimit = 2000000;

void offer_to_clear_large_log(UserInterface& ui, const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || st.st_size <= kLogSizeLimit) return;
  if (ui.ask_yes_no("Clear log file?\r\r(It's over 2MB.)")) ::unlink(path.c_str());
}

}  // namespace

AppSession::AppSession(UserInterface& ui, unsigned steps, SessionServices services)
    : ui_(ui),
      settings_(std::make_unique<CWParam>()),
      drives_(std::move(services.drives)),
      eject_(std::move(services.eject)),
      cameras_(std::move(services.cameras)) {
  if (!drives_) drives_ = [] { return std::make_unique<LinuxDriveSource>(); };
  if (!eject_)
    eject_ = [](const std::string& root, std::FILE* lines) {
      EjectOptions options;
      options.output = lines;
      return EjectCard(root, options).handled;
    };
  if (services.sysio) sysio_.emplace(*services.sysio);
  previous_ui_ = set_log_front_end(&ui_);
  run_steps(steps);
  // Cameras given to the session serve whatever the steps; without them and without the step
  // that makes them, the session has none.
  if (!cameras_) cameras_ = std::make_unique<NoCameraSource>();
  macro_env_->cameras = cameras_.get();
}

AppSession::~AppSession() {
  // The macro environment reads the presets and the database: it goes first.
  macro_env_.reset();
  if (database_) database_->close();
  set_log_front_end(previous_ui_);
}

Database* AppSession::database() {
  return database_ && database_->is_open() ? database_.get() : nullptr;
}

std::unique_ptr<DriveSource> AppSession::open_drives() const { return drives_(); }

bool AppSession::eject(const std::string& root, std::FILE* lines) const {
  return eject_(root, lines);
}

std::string AppSession::version() { return CARDWRIGHT_VERSION; }

bool AppSession::load_gps(const std::vector<std::string>& files, const std::string& save_file,
                          std::string& message, const StopSource& stop,
                          const std::string& track_date) {
  gps_tracks_ = load_gps_data(settings_->master(), files, save_file, tools_.gpsbabel, message,
                              stop, track_date);
  return gps_tracks_ != nullptr;
}

const GpsRunSettings* AppSession::gps_run_settings() {
  if (!gps_tracks_) return nullptr;
  // A missing ExifTool is reported once while the program runs, whatever the tracks.
  const auto missing_reported = gps_run_.missing_reported;
  gps_run_ = cw::gps_run_settings(gps_tracks_.get(), settings_->master(), tools_.exiftool);
  gps_run_.missing_reported = missing_reported;
  gps_run_.cannot_carry_tags = is_video_extension;
  gps_run_.video_times_local = macro_env_->video_times_local;
  return &gps_run_;
}

void AppSession::run_steps(unsigned steps) {
  paths_.data_location = user_data_location();
  paths_.user_folder = ensure_user_folder();
  paths_.log = paths_.user_folder + "/" + kLogFileName;
  paths_.database = paths_.user_folder + "/" + kDatabaseFileName;
  paths_.catalogue = chosen_catalogue();
  if (paths_.catalogue.empty())
    paths_.catalogue = paths_.database;
  else if (is_server_catalogue(paths_.catalogue))
    paths_.database = catalogue_display_name(paths_.catalogue);
  else
    paths_.database = paths_.catalogue;
  paths_.templates = default_develop_folders().templates;
  paths_.program_data = program_data_folder();

  // The log opens first, so that whatever the later steps report is in it.
  if (steps & kStepLogSizeQuestion) offer_to_clear_large_log(ui_, paths_.log);
  log_set_enabled(pref_get_int("LogV3") != 0);
  log_set_path(paths_.log);
  if (steps & kStepDatabase) ok_ = open_database();
  // Without its database the program ends: nothing else is set up.
  if (!ok_) {
    macro_env_ = std::make_unique<SettingsMacroEnvironment>(*settings_, nullptr);
    macro_env_->video_times_local = pref_get_int("VideoTimesLocal") != 0;
    return;
  }

  // A configured tool that is not where it was said to be is not replaced by another one.
  auto tool = [](const char* preference, const char* name) {
    const std::string configured = pref_get_text(preference);
    return find_executable(configured.empty() ? name : configured);
  };
  // ExifTool keeps what was searched when it is not found, so that tagging can say where.
  const std::string exiftool_wanted = pref_get_text("ExifToolPath");
  tools_.exiftool = tool("ExifToolPath", "exiftool");
  if (tools_.exiftool.empty()) tools_.exiftool = exiftool_wanted.empty() ? "exiftool" : exiftool_wanted;
  tools_.gpsbabel = tool("GpsbabelPath", "gpsbabel");
  if (steps & kStepTemplates) install_metadata_templates(paths_.program_data, paths_.templates);
  if ((steps & kStepCameras) && !cameras_) cameras_ = make_camera_source();
  if (steps & kStepSettings) {
    settings_ok_ = open_settings_store(paths_.user_folder);
    if (settings_ok_) settings_->load_presets();
    if (settings_ok_ && settings_->master().names().empty()) settle_incompatibility_warning();
  }
  macro_env_ = std::make_unique<SettingsMacroEnvironment>(*settings_, database());
  macro_env_->video_times_local = pref_get_int("VideoTimesLocal") != 0;
  if ((steps & kStepVerifyDatabase) && database()) db_startup_check(*database_);
  if (steps & kStepNotices) {
    if (std::optional<std::string> warning = incompatibility_countdown())
      alert_printf("%s", warning->c_str());
  }
}

std::string chosen_catalogue() {
  const char* given = std::getenv(kCatalogueVariable);
  return given && *given ? std::string(given) : pref_get_text("Catalogue");
}

bool choose_catalogue(const std::string& catalogue, std::string& shown) {
  shown = catalogue;
  if (!catalogue.empty()) {
    Database db;
    if (!db.open(catalogue) || !db.install_default_entities()) return false;
    shown = db.path();
  }
  if (pref_put_text("Catalogue", catalogue)) return true;
  alert_printf("The preference Catalogue could not be saved.");
  return false;
}

bool AppSession::open_database() {
  if (paths_.database.empty()) {
    alert_printf("Can't access database (empty name).");
    return false;
  }
  database_ = std::make_unique<Database>();
  if (!database_->open(paths_.catalogue)) {
    alert_printf("Can't initialize database %s\r\r(Application exiting)", paths_.database.c_str());
    database_.reset();
    return false;
  }
  std::string why;
  const std::optional<ArchiveRoots> roots = ArchiveRoots::parse(pref_get_text("ArchiveRoots"), why);
  if (!roots) {
    alert_printf("The preference ArchiveRoots cannot be used: %s.", why.c_str());
    database_.reset();
    return false;
  }
  database_->set_archive_roots(*roots);
  if (!database_->install_default_entities()) alert_printf("Can't install default entities.");
  return true;
}

}  // namespace cw
