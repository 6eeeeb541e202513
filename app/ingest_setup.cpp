// The start of a command-line ingestion: settings checks, database choices and the ingestion
// record, card and backup folders, the parameter list and record, the run and its outcome.
#include "app/ingest_setup.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_ui.h"
#include "control/templates.h"
#include "database/database.h"
#include "database/repair.h"
#include "foundation/log.h"
#include "platform/paths.h"
#include "settings/param.h"
#include "settings/preferences.h"

namespace cw::app {

ParamList unset_param_list() {
  ParamList p;
  p.values.assign(kParamCount, kUnsetParam);
  return p;
}

namespace {

// With --json standard output carries only the JSON: the text pane goes to stderr.
class JsonConsole : public ConsoleUserInterface {
 public:
  using ConsoleUserInterface::ConsoleUserInterface;
  void pane_append(const std::string& text) override {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
  }
};

bool is_folder(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_directory(path, ec);
}

void report_error(const std::string& text) { ui_print("ERROR: " + text + "\n"); }

// Puts the flag values that stand for preset settings into the master's working set, so that
// the summary, the list and the record all show them. The working set is not saved.
void override_preset(CWParam& param, const ParamList& given) {
  CWPreset& m = param.master();
  auto has = [&](int pos) { return given.text(pos) != kUnsetParam; };
  auto flag = [&](int pos) { return given.flag(pos) ? 1 : 0; };
  static const std::pair<int, const char*> kTexts[] = {
      {kParamBackupFolder, "BackupFolder"},         {kParamPrimaryFolder, "PrimaryFolder"},
      {kParamNameFormat, "NameFormat"},             {kParamFolderFormat, "FolderFormat"},
      {kParamPreview, "Preview"},                   {kParamBackupFolderPost, "BackupFolderPost"},
      {kParamConverterParams, "ConvertParams"},
  };
  static const std::pair<int, const char*> kFlags[] = {
      {kParamWantBackup, "WantBackup"},   {kParamWantJpegVerify, "WantJPEGVerify"},
      {kParamWantBackupPost, "WantBackupPost"}, {kParamWantXMPtoJPG, "XMPtoJPG"},
      {kParamExtractJPG, "ExtractJPG"},
  };
  for (const auto& [pos, key] : kTexts)
    if (has(pos)) m.put_str(key, given.text(pos));
  for (const auto& [pos, key] : kFlags)
    if (has(pos)) m.put_int(key, flag(pos));
  if (has(kParamConverterPath)) {
    const bool convert = given.text(kParamConverterPath) != "none";
    m.put_int("KeepRaw", convert ? 1 : 0);
    if (convert) m.put_str("ConverterApp", given.text(kParamConverterPath));
  }
  if (has(kParamPartitionSize)) {
    m.put_int("WantPartition", 1);
    m.put_str("PartitionSize", given.text(kParamPartitionSize));
  }
  if (has(kParamEmbed)) m.put_int("Embed", given.text(kParamEmbed) == "-e" ? 1 : 0);
  if (has(kParamVerifyOnly))
    m.put_int("VerifyOnly", given.text(kParamVerifyOnly) == "verifyOnly" ? 1 : 0);
  if (has(kParamNumberRangeDigits))
    m.put_int("NumberRangeDigits", given.integer(kParamNumberRangeDigits));
  if (has(kParamNumberRangeSource))
    m.put_int("NumberRangeSource", given.integer(kParamNumberRangeSource));
  if (has(kParamIncludeExtensions) || has(kParamExtensions)) {
    bool include = false;
    std::string list = m.extensions(include);
    if (has(kParamIncludeExtensions)) include = flag(kParamIncludeExtensions) != 0;
    if (has(kParamExtensions)) list = given.text(kParamExtensions);
    param.store_extension_filter(include, list);
  }
  // The starting-number field is the preference, as in the main window.
  if (has(kParamStartingNumber)) set_starting_number(given.text(kParamStartingNumber));
}

// Flag values with no preset setting behind them go straight into the built list.
void override_list(ParamList& params, const ParamList& given) {
  static const int kPositional[] = {kParamProgram, kParamCopy, kParamSidecarPath,
                                    kParamCRDefaults, kParamWantConvertDNGs};
  for (int pos : kPositional)
    if (given.text(pos) != kUnsetParam) params.values[pos] = given.text(pos);
}

// The database choices, by name (created when new) or the master's last choice, else the
// "[unknown]" entities.
struct Choices {
  int client = -1, project = -1, card = -1;
  std::string client_name, project_name, card_name;
};

// The rows of a formatted query; nothing when it cannot be formed or fails.
std::optional<QueryResult> rows(Database& db, const std::optional<std::string>& sql) {
  return sql ? db.query(*sql) : std::nullopt;
}

bool visible_card(Database& db, int key) {
  auto found = rows(db, sql_format("select 1 from card where card_sk = %d and hidden is null", key));
  return found && found->row_count() == 1;
}

std::string remembered(CWParam& param, const char* table) {
  return last_db_choice(param, table).value_or("");
}

bool choose_entities(Database& db, CWParam& param, const IngestRequest& r, Choices& c) {
  if (r.client) {
    c.client = db.client_key(*r.client);
    if (c.client < 0) c.client = db.client_add(*r.client, "", true);
  } else if (int k = db.client_key(remembered(param, "client")); k > 0) {
    c.client = k;
  } else {
    c.client = db.unknown_client();
  }
  std::optional<std::string> client_name = db.client_name(c.client);
  if (c.client < 0 || !client_name) return false;
  c.client_name = *client_name;

  if (r.project) {
    c.project = db.project_key(c.client_name, *r.project);
    if (c.project < 0) c.project = db.project_add(*r.project, c.client_name, std::nullopt, "");
    c.project_name = *r.project;
  } else {
    // The last project is kept only while it belongs to the chosen client (a hidden one has
    // been renamed, so its old name finds nothing).
    const std::string last = remembered(param, "project");
    if (int k = db.project_key(c.client_name, last); k > 0) {
      c.project = k;
      c.project_name = last;
    } else {
      c.project = db.unknown_project(c.client);
      c.project_name = kUnknownEntity;
    }
  }

  if (r.card_name) {
    c.card = db.card_key(*r.card_name);
    if (c.card < 0) c.card = db.card_add(*r.card_name, "");
  } else if (int k = db.card_key(remembered(param, "card")); k > 0 && visible_card(db, k)) {
    c.card = k;
  } else {
    c.card = db.unknown_card();
  }
  auto card = rows(db, sql_format("select name from card where card_sk = %d", c.card));
  if (card && card->row_count() == 1) c.card_name = card->rows[0][0];
  return c.project >= 0 && c.card >= 0;
}

// Stores the last choices in the master preset on disk, so that the next ingestion (and the
// TABLE.COLUMN macros) find them. A master that was never saved is left alone.
void save_choices(CWParam& param, const Choices& c, int ingestion_key) {
  remember_db_choice(param, "client", c.client_name);
  remember_db_choice(param, "project", c.project_name);
  remember_db_choice(param, "card", c.card_name);
  const CWPreset& m = param.master();
  if (!propset_exists(m.category, m.name)) return;
  PropSetPtr stored = propset_get(m.category, m.name);
  if (!stored) return;
  for (const auto& [table, key] :
       {std::pair<const char*, std::string>{"client", c.client_name},
        {"project", c.project_name},
        {"card", c.card_name},
        {"Ingestion", std::to_string(ingestion_key)}})
    PropPutStr(stored.get(), std::string(kLastDbPrefix) + table, 0, key.c_str());
  if (!propset_write(stored.get()))
    log_printf("Can't remember the database choices in master preset \"%s\"", m.name.c_str());
}

// A configured backup folder that does not exist: the user picks another or the run stops.
// Empty when there is none to use.
std::string settle_backup(const std::string& configured, const char* title) {
  if (is_folder(configured)) return configured;
  std::optional<std::string> picked = user_interface().choose_folder(title, configured);
  return picked && is_folder(*picked) ? *picked : std::string();
}

// Everything from the ingestion record to the stored outcome; the database is open.
int run_with_record(Database& db, CWParam& param, const IngestRequest& r) {
  CWPreset& m = param.master();
  Choices c;
  if (!choose_entities(db, param, r, c)) {
    alert_printf("Can't insert ingestion record into database.");
    return 1;
  }
  const std::string notes = r.notes.value_or(pref_get_text("IngestionNotes"));
  const int key = db.ingestion_insert(c.project, c.card, 0, 0, 0, notes);
  if (key < 0) {
    report_error("");
    alert_printf("Can't insert ingestion record into database.");
    return 1;
  }
  save_choices(param, c, key);
  auto stop = [&](const char* reason) {
    report_error(reason);
    db.ingestion_append_result(key, reason);
    return 1;
  };

  std::string card = r.source;
  if (card.empty()) card = m.get_str("CardFolder").value_or("");
  if (card == "[user choice]")
    card = user_interface().choose_folder("Choose card", "").value_or("");
  if (card.empty() && !r.image_list) {
    report_error("No card chosen.");
    db.ingestion_append_result(key, "No card chosen");
    return 1;
  }

  std::string backup = m.get_str("BackupFolder").value_or("");
  if (m.get_int("WantBackup") != 0) {
    backup = settle_backup(backup, "Choose backup folder");
    if (backup.empty()) {
      std::fprintf(stderr, "(give --backup DIR, or --no-backup to copy without a backup)\n");
      return stop("No pre-conversion backup folder");
    }
  }
  std::string backup_post = m.get_str("BackupFolderPost").value_or("");
  if (m.get_int("WantBackupPost") != 0) {
    backup_post = settle_backup(backup_post, "Choose post-conversion backup folder");
    if (backup_post.empty()) return stop("No post-conversion backup folder");
  }

  const std::time_t started = std::time(nullptr);
  BuildRequest b;
  b.card_folder = card;
  b.primary_folder = m.get_str("PrimaryFolder").value_or("");
  b.backup_folder = backup;
  b.backup_folder_post = backup_post;
  b.ingestion_key = key;
  b.client = c.client_name;
  b.project = c.project_name;
  b.image_list = r.image_list;
  b.folders = default_develop_folders();
  install_metadata_templates(program_data_folder(), b.folders.templates);
  if (!param.build(b)) return stop("Failed to prepare for ingestion");
  override_list(param.params, r.given);
  // A camera is named "ptp/NAME"; the card-folder entry then says only "ptp".
  if (card.rfind("ptp/", 0) == 0) param.params.values[kParamCardFolder] = "ptp";
  param.record(key, [&db](int k, const std::string& text) {
    return db.ingestion_set_params(k, text);
  });

  RunOutcome out;
  UserInterface& ui = user_interface();
  RunOptions run = r.run;
  run.settings = &param;  // macros see this run's choices (LastDB_… keys) even when unsaved
  run_ingestion(param.params, card, run, &out);
  set_user_interface(&ui);

  if (out.ok) {
    db.ingestion_set_count(key, out.image_count);
    if (out.number_start >= 0) db.ingestion_set_numbers(key, out.number_start, out.number_stop);
    db.ingestion_append_result(key, "SUCCESS");
    const long secs = static_cast<long>(std::time(nullptr) - started);
    ui_printf("Ingestion time: %d min. %d sec.\n", static_cast<int>(secs / 60),
              static_cast<int>(secs % 60));
  } else if (out.stopped) {
    ui_print("\nStopped by user\n");
    db.ingestion_append_result(key, "Stopped by user");
    alert_printf(
        "Ingested images may be invalid!\n\nDo not delete images from card until they have "
        "been successfully ingested.");
  } else {
    db.ingestion_append_result(key, "Terminated with error");
  }
  set_starting_number(std::to_string(out.next_number));
  ui_print("\nFinished\n");
  return out.ok ? 0 : 1;
}

int start_with_settings(const IngestRequest& r) {
  CWParam param;
  if (r.preset) {
    if (*r.preset != kDefaultName && !param.master().exists(*r.preset)) {
      alert_printf("There is no master preset named \"%s\".", r.preset->c_str());
      return 1;
    }
    param.master().name = *r.preset;
  }
  param.load_presets();
  override_preset(param, r.given);
  CWPreset& m = param.master();
  if (m.get_str("PrimaryFolder").value_or("").empty())
    return usage_error("ingest", "no primary folder: give --primary DIR or set PrimaryFolder");
  if (m.get_int("KeepRaw") != 0 && m.get_int("WantBackup") == 0) {
    alert_printf(
        "DNG Converter can be run only if there's a pre-conversion backup. Change either the "
        "Destination or File Handling settings.");
    return 1;
  }
  ui_print("Starting\n\n");
  if (m.get_int("WantGPS") != 0) {
    // No track can be loaded from the command line yet.
    report_error("Ingestion requires GPS data.");
    return 1;
  }

  const std::string path = ensure_user_folder() + "/" + kDatabaseFileName;
  Database db;
  if (!db.open(path)) {
    alert_printf("Can't initialize database %s\r\r(Application exiting)", path.c_str());
    return 1;
  }
  if (!db.install_default_entities()) alert_printf("Can't install default entities.");
  // As at every start-up: verify the database and repair it (with a backup) when needed.
  db_startup_check(db);
  db_set_current(&db);
  int rc = run_with_record(db, param, r);
  db_set_current(nullptr);
  return rc;
}

}  // namespace

int start_ingestion(const IngestRequest& r) {
  std::unique_ptr<ConsoleUserInterface> ui =
      r.run.json ? std::make_unique<JsonConsole>(r.run.assume_yes)
                 : std::make_unique<ConsoleUserInterface>(r.run.assume_yes);
  CommandSession session(*ui);
  return open_settings_store() ? start_with_settings(r) : 1;
}

}  // namespace cw::app
