// The Start flow: checks, record, folders, parameters; and what follows the run.
#include "control/start_flow.h"

#include <strings.h>

#include <algorithm>
#include <filesystem>

#include "control/app_session.h"
#include "control/records.h"
#include "database/database.h"
#include "foundation/fs.h"
#include "device/camera_card.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "ingest/card_layout.h"
#include "ingest/dry_run.h"
#include "ingest/ingest.h"
#include "ingest/sidecar_placement.h"
#include "metadata/macro_check.h"
#include "metadata/macro_settings_env.h"
#include "platform/camera_source.h"
#include "settings/param.h"
#include "settings/param_record.h"
#include "settings/preset_edit.h"
#include "settings/preferences.h"

namespace cw {

ParamList unset_param_list() {
  ParamList p;
  p.values.assign(kParamCount, kUnsetParam);
  return p;
}

namespace {

// "ERROR: " + text in the text pane, and "Error" as the main window's status.
void report_error(UserInterface& ui, const std::string& text) {
  ui_print("ERROR: " + text + "\n");
  ui.set_status("Error");
}

// Puts the request's values that stand for preset settings into the master's working set, so
// that the summary, the list and the record all show them. The working set is not saved. The
// switch rules apply as to any edit: false when one refused a value (its message was shown).
bool override_preset(CWParam& param, const ParamList& given, bool dry_run) {
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
      {kParamWantJpegVerify, "WantJPEGVerify"}, {kParamWantXMPtoJPG, "XMPtoJPG"},
      {kParamExtractJPG, "ExtractJPG"},
  };
  for (const auto& [pos, key] : kTexts)
    if (has(pos)) m.put_str(key, given.text(pos));
  for (const auto& [pos, key] : kFlags)
    if (has(pos)) m.put_int(key, flag(pos));
  bool allowed = true;
  if (has(kParamWantBackup)) {
    if (flag(kParamWantBackup))
      m.put_int("WantBackup", 1);
    else
      param.switch_want_backup_off();
  }
  if (has(kParamWantBackupPost)) {
    if (flag(kParamWantBackupPost))
      allowed = param.switch_want_backup_post_on();
    else
      m.put_int("WantBackupPost", 0);
  }
  if (has(kParamConverterPath)) {
    const bool convert = given.text(kParamConverterPath) != "none";
    if (!convert)
      m.put_int("KeepRaw", 0);
    else if (param.switch_keep_raw_on())
      m.put_str("ConverterApp", given.text(kParamConverterPath));
    else
      allowed = false;
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
  // The starting-number field is the preference, as in the main window; a dry run leaves it.
  if (has(kParamStartingNumber) && !dry_run) set_starting_number(given.text(kParamStartingNumber));
  return allowed;
}

// Request values with no preset setting behind them go straight into the built list.
void override_list(ParamList& params, const ParamList& given) {
  static const int kPositional[] = {kParamProgram, kParamCopy, kParamSidecarPath,
                                    kParamCRDefaults, kParamWantConvertDNGs};
  for (int pos : kPositional)
    if (given.text(pos) != kUnsetParam) params.values[static_cast<std::size_t>(pos)] = given.text(pos);
}

// The client, project and card of the record, looked up: by name (new when the database has
// none), else the master's last choice, else the "[unknown]" entry. Nothing is added here: a
// key of -1 is a row add_entities adds (a new name, or an "[unknown]" entry the database does
// not hold yet), so a dry run and a Start the user stops at the question leave no trace. False
// when a row found cannot be read.
bool plan_entities(Database& db, CWParam& param, const StartRequest& r, EntityChoice& c) {
  auto remembered = [&](const char* table) { return last_db_choice(param, table).value_or(""); };
  c.client_name = kUnknownEntity;
  if (r.client) {
    c.client = db.client_key(*r.client);
    c.client_new = c.client < 0;
    c.client_name = *r.client;
  } else if (int k = db.client_key(remembered("client")); k > 0) {
    c.client = k;
    c.client_carried = remembered("client") != kUnknownEntity;
  } else {
    c.client = db.client_key(kUnknownEntity);
  }
  if (c.client >= 0) {
    std::optional<std::string> client_name = db.client_name(c.client);
    if (!client_name) return false;
    c.client_name = *client_name;
  }

  // The last project is kept only while it belongs to the chosen client (a hidden one has been
  // renamed, so its old name finds nothing); else the client's "[unknown]" project.
  c.project_name = kUnknownEntity;
  if (r.project) {
    c.project = db.project_key(c.client_name, *r.project);
    c.project_new = c.project < 0;
    c.project_name = *r.project;
  } else if (int k = db.project_key(c.client_name, remembered("project")); k > 0) {
    c.project = k;
    c.project_name = remembered("project");
    c.project_carried = c.project_name != kUnknownEntity;
  }

  if (r.card_name) {
    c.card = db.card_key(*r.card_name);
    c.card_new = c.card < 0;
  } else if (int k = db.card_key(remembered("card")); k > 0 && db.visible_card_name(k)) {
    c.card = k;
    c.card_carried = remembered("card") != kUnknownEntity;
  }
  c.card_name = c.card < 0 ? r.card_name.value_or(kUnknownEntity)
                           : db.visible_card_name(c.card).value_or(kUnknownEntity);
  return true;
}

// Adds the rows a planned choice lacks: its new names, and the "[unknown]" entries it falls
// back on. A name another program added meanwhile is taken, not added twice. False when a row
// cannot be added.
bool add_entities(Database& db, EntityChoice& c) {
  if (c.client < 0 && c.client_new) c.client = db.client_key(c.client_name);
  if (c.client < 0)
    c.client = c.client_new ? db.client_add(c.client_name, "", true) : db.unknown_client();
  if (c.client < 0) return false;
  if (c.project < 0 && c.project_new) c.project = db.project_key(c.client_name, c.project_name);
  if (c.project < 0)
    c.project = c.project_new ? db.project_add(c.project_name, c.client_name, std::nullopt, "")
                              : db.unknown_project(c.client);
  if (c.card < 0 && c.card_new) c.card = db.card_key(c.card_name);
  if (c.card < 0) c.card = c.card_new ? db.card_add(c.card_name, "") : db.unknown_card();
  return c.project >= 0 && c.card >= 0;
}

// What the text pane says about the record before anything is copied: its key, then one line
// for each choice, marked when it is new or was carried over from the last ingestion (the user
// may not have meant to keep it).
void report_entities(const EntityChoice& c, int ingestion_key, bool dry_run) {
  if (dry_run)
    ui_print("Dry run (no ingestion is recorded)\n");
  else
    ui_printf("Ingestion %d\n", ingestion_key);
  const struct {
    const char* title;
    const std::string& name;
    bool is_new, carried;
  } lines[] = {{"Client", c.client_name, c.client_new, c.client_carried},
               {"Project", c.project_name, c.project_new, c.project_carried},
               {"Card record", c.card_name, c.card_new, c.card_carried}};
  for (const auto& line : lines)
    ui_printf("%s: %s%s\n", line.title, line.name.c_str(),
              line.is_new    ? " (new)"
              : line.carried ? " (carried over from the last ingestion)"
                             : "");
}

// The new names of a choice as one question ("Add client "Smith" and project "Wedding"?");
// empty when every name exists.
std::string new_names_question(const EntityChoice& c) {
  std::vector<std::string> parts;
  if (c.client_new) parts.push_back("client \"" + c.client_name + "\"");
  if (c.project_new) parts.push_back("project \"" + c.project_name + "\"");
  if (c.card_new) parts.push_back("card record \"" + c.card_name + "\"");
  if (parts.empty()) return {};
  std::string question = "Add ";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) question += i + 1 == parts.size() ? " and " : ", ";
    question += parts[i];
  }
  return question + "?";
}

// The choices as the master preset keeps them: "LastDB_" + table and the row's key.
std::vector<std::pair<std::string, std::string>> choice_keys(const EntityChoice& c,
                                                             int ingestion_key) {
  return {{"client", c.client_name},
          {"project", c.project_name},
          {"card", c.card_name},
          {"Ingestion", std::to_string(ingestion_key)}};
}

// The choices in the master's working set only, so that the TABLE.COLUMN macros of a dry run
// find what a real run would find; nothing is stored.
void remember_choices(CWParam& param, const EntityChoice& c, int ingestion_key) {
  for (const auto& [table, key] : choice_keys(c, ingestion_key))
    remember_db_choice(param, table, key);
}

void write_choices(PROPSET& stored) {
  if (!propset_write(&stored))
    log_printf("Can't remember the database choices in master preset \"%s\"",
               stored.setname.value_or("").c_str());
}

// Stores the choices in the master's working set and in the stored master preset, so that the
// next ingestion and the TABLE.COLUMN macros find them. A user who never saved a master gets
// one holding only these choices (every other setting keeps its default). The stored preset is
// written only when a choice changed; when the run's key is the only change, it is returned
// unwritten for the caller to write once the copies have begun, since a later run starts by
// storing its own key and a run killed meanwhile loses nothing a later one reads.
std::shared_ptr<PROPSET> save_choices(CWParam& param, const EntityChoice& c, int ingestion_key) {
  remember_choices(param, c, ingestion_key);
  const CWPreset& m = param.master();
  const bool existed = propset_exists(m.category, m.name);
  std::shared_ptr<PROPSET> stored =
      existed ? propset_get(m.category, m.name) : propset_alloc(m.category, m.name);
  if (!stored) return nullptr;
  bool changed = !existed, choice_changed = !existed;
  for (const auto& [table, key] : choice_keys(c, ingestion_key)) {
    const std::string name = kLastDbPrefix + table;
    if (PropGetStr(stored.get(), name, 0, std::nullopt) == key) continue;
    PropPutStr(stored.get(), name, 0, key.c_str());
    changed = true;
    if (table != "Ingestion") choice_changed = true;
  }
  if (!changed) return nullptr;
  if (!choice_changed) return stored;
  write_choices(*stored);
  return nullptr;
}


// Warns about unknown macros in the name and folder specifications; false (after the warning)
// when `strict`. `message` holds the warning.
bool check_specifications(AppSession& session, bool strict, std::string& message) {
  const CWPreset& m = session.settings().master();
  static const std::pair<const char*, const char*> kSpecifications[] = {
      {"NameFormat", "file-name specification"}, {"FolderFormat", "folder specification"}};
  bool clean = true;
  for (const auto& [key, what] : kSpecifications) {
    const std::vector<UnknownMacro> unknown =
        unknown_macros(m.get_str(key).value_or(""), session.macro_environment());
    if (unknown.empty()) continue;
    clean = false;
    if (!message.empty()) message += "\n";
    message += unknown_macro_warning(std::string(what) + " \"" + m.get_str(key).value_or("") + "\"",
                                     unknown);
  }
  if (clean) return true;
  alert_printf("%s", message.c_str());
  return !strict;
}

}  // namespace

std::string metadata_template_of(const std::string& name_or_path) {
  return metadata_template_path(name_or_path);
}

std::vector<std::string> client_names(AppSession& session) {
  std::optional<Records> records = Records::of(session);
  return records ? records->client_names() : std::vector<std::string>{};
}

std::vector<std::string> project_names(AppSession& session, const std::string& client) {
  std::optional<Records> records = Records::of(session);
  return records ? records->project_names(client) : std::vector<std::string>{};
}

std::vector<std::string> card_record_names(AppSession& session) {
  std::optional<Records> records = Records::of(session);
  return records ? records->card_names() : std::vector<std::string>{};
}

std::string choose_card(AppSession& session) {
  UserInterface& ui = session.ui();
  ui.set_status("Choosing card");
  const auto devices = session.cameras().devices();
  // One card in the reader and no camera: there is nothing to choose between.
  if (session.recorded_card && devices.empty()) return session.recorded_card->path;
  std::vector<std::string> lines;
  if (session.recorded_card) lines.push_back("Card: " + session.recorded_card->label);
  for (const auto& device : devices) lines.push_back("Device: " + device.second);
  lines.push_back("Other...");
  std::optional<int> picked = ui.choose_from_list("Ingest from ...", "", lines);
  if (!picked || *picked < 0 || *picked >= static_cast<int>(lines.size())) {
    report_error(session.ui(), "No card chosen.");
    return {};
  }
  const std::string& line = lines[static_cast<std::size_t>(*picked)];
  if (line == "Other...") return ui.choose_folder("Choose card", "").value_or("");
  if (session.recorded_card && *picked == 0) return session.recorded_card->path;
  return "ptp/" + line.substr(8);
}

namespace {

// A configured backup folder that does not exist: the user stops, takes the previous folder
// or picks another. Returns false when the user chose to stop.
bool settle_backup(AppSession& session, std::string& folder, std::string& previous,
                   const char* which, const char* browser_title) {
  if (is_folder(folder)) return true;
  UserInterface& ui = session.ui();
  const std::string text = "The " + std::string(which) + " backup folder \"" + folder +
                           "\" does not exist." +
                           (previous.empty() ? "" : "\nPrevious folder: \"" + previous + "\"");
  const std::vector<std::string> choices(std::begin(kBackupChoices), std::end(kBackupChoices));
  std::optional<int> answer = ui.choose_from_list("Choose Backup Folder", text, choices);
  if (!answer) return true;  // closed without an answer: the folder is still missing
  switch (*answer) {
    case 0:
      return false;
    case 1:
      folder = previous;
      return true;
    default: {
      std::optional<std::string> picked = ui.choose_folder(browser_title, folder);
      folder = previous = picked.value_or("");
      return true;
    }
  }
}

}  // namespace

std::string card_folder_problem(const std::string& card, bool include,
                                const std::string& extensions,
                                const std::vector<std::string>& destinations) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::exists(card, ec))
    return "The card folder \"" + card + "\" does not exist. Is the card mounted? ('cardwright cards' lists the mounted cards.)";
  if (!fs::is_directory(card, ec)) return "The card folder \"" + card + "\" is not a folder.";
  // Compared by whole components, without "..", links or a trailing "/".
  auto canonical = [&](std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return fs::weakly_canonical(p, ec);
  };
  const fs::path card_path = canonical(card);
  for (const std::string& d : destinations) {
    if (d.empty()) continue;
    const fs::path dest = canonical(d);
    auto [end, unused] = std::mismatch(card_path.begin(), card_path.end(), dest.begin(), dest.end());
    if (end == card_path.end())
      return "The destination folder \"" + d + "\" is inside the card folder \"" + card +
             "\": the next ingestion of this card would take the archive too. Choose a "
             "destination outside the card.";
  }
  // Stops at the first file that would be ingested: a card holds thousands. Beside a card's
  // DCIM, the clip folders of its video trees are taken too.
  std::vector<std::string> folders{card};
  if (const std::optional<std::string> root = card_root_of_dcim(card))
    for (const VideoTree& t : video_trees())
      folders.push_back(*root + (root->ends_with('/') ? "" : "/") + t.tree + "/" + t.clips);
  int files = 0;
  for (const std::string& folder : folders) {
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                        ec);
    if (ec && folder != card) continue;
    if (ec) return "The card folder \"" + card + "\" can't be read (" + ec.message() + ").";
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      // Hidden files and folders hold images like any other.
      if (!it->is_regular_file(ec)) continue;
      const std::string ext = it->path().extension().string();
      if (ext.size() > 1 && strcasecmp(ext.c_str(), ".xmp") == 0) continue;
      ++files;
      if (extension_filter_admits(include, extensions, ext.empty() ? "" : ext.substr(1)))
        return {};
    }
  }
  if (files == 0) return "The card folder \"" + card + "\" holds no files to ingest.";
  return "None of the " + std::to_string(files) + " files in the card folder \"" + card +
         "\" passes the extension filter (" + (include ? "Include: " : "Exclude: ") + extensions +
         ").";
}

StartOutcome prepare_ingestion(AppSession& session, const StartRequest& r) {
  StartOutcome out;
  auto stop = [&](StartStop why) {
    out.stop = why;
    return out;
  };
  CWParam& param = session.settings();
  if (r.preset && *r.preset != param.master().name) {
    if (*r.preset != kDefaultName && !param.master().exists(*r.preset)) {
      alert_printf("There is no master preset named \"%s\".", r.preset->c_str());
      return stop(StartStop::kNoSuchPreset);
    }
    param.master().name = *r.preset;
    param.load_presets();
  }
  if (!override_preset(param, r.given, r.dry_run)) return stop(StartStop::kPresetConflict);
  for (const auto& [key, value] : r.preset_values) {
    std::string why;
    if (!preset_value_allowed(PresetKind::Master, key, value, why) ||
        !put_preset_value(param, PresetKind::Master, key, value)) {
      if (!why.empty()) alert_printf("%s", why.c_str());
      return stop(StartStop::kBadSetting);
    }
  }
  CWPreset& m = param.master();
  if (m.get_str("PrimaryFolder").value_or("").empty()) return stop(StartStop::kNoPrimaryFolder);
  if (m.get_int("KeepRaw") != 0 && m.get_int("WantBackup") == 0) {
    alert_printf(
        "DNG Converter can be run only if there's a pre-conversion backup. Change either the "
        "Destination or File Handling settings.");
    return stop(StartStop::kPresetConflict);
  }
  // An empty converter would let the run copy the raws unconverted without a word.
  if (m.get_int("KeepRaw") != 0 &&
      m.get_str("ConverterApp").value_or("").find_first_not_of(" \t") == std::string::npos) {
    alert_printf("%s", kNoConverterMessage);
    return stop(StartStop::kNoConverter);
  }
  if (!check_specifications(session, r.strict_macros, out.message))
    return stop(StartStop::kUnknownMacro);
  // The card, when it is known before the record: a folder that will not do stops the Start
  // before anything is recorded.
  const bool want_backup = m.get_int("WantBackup") != 0;
  const bool want_post = want_backup && m.get_int("WantBackupPost") != 0;
  std::string card = r.source.empty() ? m.get_str("CardFolder").value_or("") : r.source;
  if (r.source.empty() && m.get_int("AutoIngest") != 0 && session.recorded_card)
    card = session.recorded_card->path;
  const bool card_to_choose = !r.chosen_images && card == "[user choice]" && !r.cards_mode;
  auto card_problem = [&]() {
    if (r.chosen_images || r.cards_mode || card.empty() || card.rfind("ptp/", 0) == 0) return false;
    bool include = false;
    const std::string extensions = m.extensions(include);
    std::vector<std::string> destinations{m.get_str("PrimaryFolder").value_or("")};
    if (want_backup) destinations.push_back(m.get_str("BackupFolder").value_or(""));
    if (want_post) destinations.push_back(m.get_str("BackupFolderPost").value_or(""));
    out.message = card_folder_problem(card, include, extensions, destinations);
    if (out.message.empty()) return false;
    alert_printf("%s", out.message.c_str());
    return true;
  };
  if (!card_to_choose && card_problem()) return stop(StartStop::kBadCard);
  // The record's choice is made once. New names are confirmed before anything is added; a No
  // leaves the database as it was.
  Database* db = session.database();
  PreparedIngestion run;
  const bool planned = db && plan_entities(*db, param, r, run.entities);
  if (planned && r.confirm_new_names && !r.dry_run) {
    const std::string question = new_names_question(run.entities);
    if (!question.empty() && !session.ui().ask_yes_no(question))
      return stop(StartStop::kNameDeclined);
  }

  ui_print("Starting\n\n");
  if (m.get_int("WantGPS") == 0) {
    session.discard_gps();
  } else {
    std::string message;
    if (!r.gps_tracks.empty() && !session.load_gps(r.gps_tracks, "", message, {}, r.gps_track_date))
      report_error(session.ui(), message);
    if (!session.gps_tracks() && r.gps_window) r.gps_window(session);
    if (m.get_int("WantGPS") != 0 && !session.gps_tracks()) {
      report_error(session.ui(), "Ingestion requires GPS data.");
      return stop(StartStop::kNoGpsData);
    }
  }

  const std::string notes = r.notes.value_or(pref_get_text("IngestionNotes"));
  const bool chosen = planned && (r.dry_run || add_entities(*db, run.entities));
  if (chosen && !r.dry_run)
    run.ingestion_key = db->ingestion_insert(run.entities.project, run.entities.card, 0, 0, 0, notes);
  if (!chosen || (run.ingestion_key < 0 && !r.dry_run)) {
    report_error(session.ui(), text_with_path("Can't insert ingestion record into database",
                                session.paths().database));
    alert_printf("Can't insert ingestion record into database.");
    return stop(StartStop::kRecordFailed);
  }
  if (r.dry_run)
    remember_choices(param, run.entities, run.ingestion_key);
  else
    run.deferred_choices = save_choices(param, run.entities, run.ingestion_key);
  report_entities(run.entities, run.ingestion_key, r.dry_run);
  session.macro_environment().notes = notes;
  session.macro_environment().video_times_local =
      r.video_times_local.value_or(pref_get_int("VideoTimesLocal") != 0);
  auto stop_recorded = [&](StartStop why, const char* reason) {
    if (!r.dry_run) db->ingestion_append_result(run.ingestion_key, reason);
    save_deferred_choices(run);
    return stop(why);
  };

  if (card_to_choose) {
    card = choose_card(session);
    if (card.empty()) return stop_recorded(StartStop::kNoCard, "No card chosen");
    if (card_problem()) return stop_recorded(StartStop::kBadCard, out.message.c_str());
  }
  if (!r.chosen_images && card.empty() && !r.cards_mode) {
    report_error(session.ui(), "No card chosen.");
    return stop_recorded(StartStop::kNoCard, "No card chosen");
  }
  // A camera must be there before anything is copied: an empty source is a successful run
  // only for a card.
  std::string camera_problem;
  if (!r.cards_mode && !check_camera_card(session.cameras(), card, camera_problem)) {
    report_error(session.ui(), camera_problem);
    return stop_recorded(StartStop::kNoCamera, camera_problem.c_str());
  }

  // The two backup trees are settled alike: the folder chosen when it must be, then checked.
  struct BackupTree {
    bool wanted;
    const char* key;
    std::string& previous;
    const char* kind;
    const char* title;
    StartStop missing;
    const char* missing_text;
    std::string folder;
  };
  BackupTree trees[] = {
      {want_backup, "BackupFolder", session.previous_backup_folder, "pre-conversion",
       "Choose backup folder", StartStop::kNoBackup, "No pre-conversion backup folder", {}},
      {want_post, "BackupFolderPost", session.previous_backup_folder_post, "post-conversion",
       "Choose post-conversion backup folder", StartStop::kNoPostBackup,
       "No post-conversion backup folder", {}}};
  for (BackupTree& t : trees) {
    t.folder = m.get_str(t.key).value_or("");
    if (!t.wanted) continue;
    if (!settle_backup(session, t.folder, t.previous, t.kind, t.title)) {
      report_error(session.ui(), "Ingestion stopped");
      return stop_recorded(StartStop::kBackupStopped, "Ingestion stopped");
    }
    if (!is_folder(t.folder)) {
      out.folder = m.get_str(t.key).value_or("");
      report_error(session.ui(), t.missing_text);
      return stop_recorded(t.missing, t.missing_text);
    }
  }
  const std::string& backup = trees[0].folder;
  const std::string& backup_post = trees[1].folder;

  BuildRequest b;
  b.card_folder = card;
  b.primary_folder = m.get_str("PrimaryFolder").value_or("");
  session.last_primary_folder = b.primary_folder;
  b.backup_folder = backup;
  b.backup_folder_post = backup_post;
  b.ingestion_key = run.ingestion_key;
  b.client = run.entities.client_name;
  b.project = run.entities.project_name;
  b.image_list = r.chosen_images;
  b.folders = default_develop_folders();
  b.folders.templates = session.paths().templates;
  if (r.given.text(kParamStartingNumber) != kUnsetParam)
    b.starting_number = r.given.text(kParamStartingNumber);
  run.started = std::time(nullptr);
  if (!r.cards_mode) session.ui().set_status("Copying images");
  if (!param.build(b)) return stop_recorded(StartStop::kPrepareFailed, "Failed to prepare for ingestion");
  override_list(param.params, r.given);
  param.params.capture_shifts = r.capture_shifts;  // never those of an earlier request
  param.params.write_exif_times = r.write_exif_times;
  std::string& card_param = param.params.values[kParamCardFolder];
  if (r.cards_mode)
    card_param = "[mounted cards]";
  else if (card.rfind("ptp/", 0) == 0)  // a camera is named "ptp/NAME"
    card_param = "ptp";
  if (!r.dry_run)
    param.record(run.ingestion_key, [db](int key, const std::string& text) {
      return db->ingestion_set_params(key, text);
    });
  run.cards_mode = r.cards_mode;
  run.source = card;
  run.verify_copies = r.verify_copies.value_or(pref_get_int("VerifyCopies") != 0);
  run.reverify = r.reverify.value_or(pref_get_int("ReverifyCopies") != 0);
  out.run = run;
  return out;
}

void save_deferred_choices(PreparedIngestion& run) {
  const std::shared_ptr<PROPSET> stored = std::move(run.deferred_choices);
  if (stored) write_choices(*stored);
}

bool dry_run_ingestion(AppSession& session, const PreparedIngestion& run) {
  const ParamList& params = session.settings().params;
  SingleSlotControl control(params.integer(kParamStartingNumber));
  const std::string title = params.file_array ? "List rooted at " + run.source : run.source;
  EngineContext ctx(EngineJob{&control, 0, title});
  ctx.macro_env = &session.macro_environment();
  ctx.cameras = &session.cameras();
  ctx.dry_run = true;
  const bool ok = !run.cards_mode && copycard(params, params.count(), run.source, ctx);
  ui_print(ctx.report);
  if (!ctx.error.empty()) ui_printf("ERROR: %s\n", ctx.error.c_str());
  return ok;
}

MonitorSetup monitor_setup(AppSession& session, const PreparedIngestion& run) {
  MonitorSetup setup;
  setup.params = session.settings().params;
  setup.cards_mode = run.cards_mode;
  setup.database = session.database();
  setup.macro_env = &session.macro_environment();
  setup.master = &session.settings().master();
  setup.gps = session.gps_run_settings();
  setup.cameras = &session.cameras();
  setup.verify_copies = run.verify_copies;
  setup.reverify = run.reverify;
  setup.card_volume = [&session](const std::string& folder) {
    if (is_camera_path(folder)) return CardVolume{};  // the camera's serial says which it is
    // Asked from the slots' threads: each asks with a drive source of its own.
    const std::unique_ptr<DriveSource> drives = session.open_drives();
    return card_volume(*drives, folder);
  };
  return setup;
}

FinishResult finish_ingestion(AppSession& session, const PreparedIngestion& run,
                              const MonitorOutcome& outcome) {
  FinishResult result;
  result.success = outcome.success;
  UserInterface& ui = session.ui();
  Database* db = session.database();
  if (!run.cards_mode) {
    if (outcome.success) {
      ui.set_status("Successful ingestion");
      const long secs = static_cast<long>(std::time(nullptr) - run.started);
      ui_printf("Ingestion time: %d min. %d sec.\n", static_cast<int>(secs / 60),
                static_cast<int>(secs % 60));
    } else if (outcome.stopped_by_user) {
      ui.set_status("Stopped by user");
      ui_print("\nStopped by user\n");
      if (db) db->ingestion_append_result(run.ingestion_key, "Stopped by user");
      alert_printf(
          "Ingested images may be invalid!\n\nDo not delete images from card until they have "
          "been successfully ingested.");
    } else {
      ui.set_status("Error");
      if (db) db->ingestion_append_result(run.ingestion_key, "Terminated with error");
    }
  }
  set_starting_number(std::to_string(outcome.next_number));
  session.cameras().close_device();  // a camera's USB interface is free again
  if (outcome.success && !run.cards_mode &&
      session.settings().master().get_int("AutoEject") != 0 && !outcome.eject_requests.empty())
    result.eject = outcome.eject_requests.front();
  ui_print("\nFinished\n");
  return result;
}

}  // namespace cw
