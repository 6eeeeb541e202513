// `cardwright init`: the set-up of a new archive. Asks for (or takes) the archive folder and
// the backup folder and saves them into the master preset, so that the next 'cardwright
// ingest --card DIR' needs nothing else. The same questions come before the first ingestion
// on a terminal.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_ingest.h"
#include "foundation/log.h"
#include "settings/param.h"
#include "settings/preset_edit.h"

namespace cw::app {

namespace {

std::string home_folder(const char* below) {
  const char* home = std::getenv("HOME");
  return std::string(home ? home : ".") + "/" + below;
}

// Asks for the two folders on the terminal; false when the user gave no archive folder.
bool ask_folders(ConsoleUserInterface& ui, std::string& archive, std::optional<std::string>& backup) {
  auto answer = ui.ask_text("Archive folder (the root of your photo library)",
                            archive.empty() ? home_folder("Pictures/Archive") : archive);
  if (!answer || answer->empty()) return false;
  archive = *answer;
  answer = ui.ask_text("Backup folder (every image is copied there first; best on another disk;\n"
                       "empty for no backup)",
                       backup.value_or(""));
  backup.reset();
  if (!answer || answer->empty()) return true;
  std::error_code ec;
  if (!std::filesystem::is_directory(*answer, ec) &&
      ui.ask_yes_no("\"" + *answer + "\" does not exist. Create it now?"))
    std::filesystem::create_directories(*answer, ec);
  backup = *answer;
  return true;
}

// Saves the set-up and says what was saved; false after saying why not.
bool save_setup(CWParam& param, const std::string& archive,
                const std::optional<std::string>& backup) {
  std::string why;
  if (!save_archive_setup(param, archive, backup, why)) {
    std::fprintf(stderr, "cardwright init: %s\n", why.c_str());
    return false;
  }
  const CWPreset& m = param.master();
  std::printf("Saved in the master preset \"%s\":\n  PrimaryFolder  %s\n", m.name.c_str(),
              m.get_str("PrimaryFolder").value_or("").c_str());
  if (m.get_int("WantBackup") != 0)
    std::printf("  BackupFolder   %s\n", m.get_str("BackupFolder").value_or("").c_str());
  else
    std::printf("  WantBackup     0 (no backup)\n");
  std::printf(
      "Next: 'cardwright ingest --card DIR --dry-run' shows where a card's images would go;\n"
      "'cardwright preset keys master' lists every setting.\n");
  return true;
}

int run_init(const CommandSpec& spec, Args& a) {
  if (!a.words.empty()) return usage_error(spec.name, "unexpected argument '" + a.words[0] + "'");
  std::string archive = a.value("archive").value_or("");
  std::optional<std::string> backup = a.value("backup");
  ConsoleUserInterface ui;
  if (archive.empty() && !ConsoleUserInterface::interactive())
    return usage_error(spec.name, "give --archive DIR and --backup DIR (or --no-backup), or run "
                                  "it on a terminal to be asked");
  if (!archive.empty() && !backup && !a.has("no-backup"))
    return usage_error(spec.name, "give --backup DIR (an existing folder), or --no-backup to "
                                  "copy without a backup");
  CommandSession session(ui, kSessionSettings);
  if (!session->settings_ok()) return 1;
  if (archive.empty() && !ask_folders(ui, archive, backup))
    return failure(spec.name, "nothing saved: no archive folder given");
  return save_setup(session->settings(), archive, backup) ? 0 : 1;
}

}  // namespace

SetupOffer offer_first_run_setup(AppSession& session, ConsoleUserInterface& ui) {
  CWParam& param = session.settings();
  if (!ConsoleUserInterface::interactive() || !first_run(param) ||
      !param.master().get_str("PrimaryFolder").value_or("").empty())
    return SetupOffer::kNotNeeded;
  if (!ui.ask_yes_no("No archive is set up yet. Set up the archive and backup folders now?"))
    return SetupOffer::kNotNeeded;
  std::string archive;
  std::optional<std::string> backup;
  if (!ask_folders(ui, archive, backup)) return SetupOffer::kNotNeeded;
  return save_setup(param, archive, backup) ? SetupOffer::kDone : SetupOffer::kFailed;
}

const CommandSpec& init_command() {
  static const CommandSpec spec{
      "init",
      "set up the archive: its folder and its backup folder, saved in the master preset",
      {"[--archive DIR (--backup DIR | --no-backup)]"},
      "Saves the archive folder (PrimaryFolder) and the pre-conversion backup folder\n"
      "(BackupFolder, with WantBackup on) into the current master preset, which every\n"
      "ingestion starts from. Without options it asks on the terminal. The backup folder must\n"
      "exist: a missing disk must not get a backup folder on the wrong one. The same questions\n"
      "come before the first 'cardwright ingest' on a terminal.",
      {},
      {
          {"archive", "DIR", "root folder of the archive (created by the first ingestion)", false,
           "dir"},
          {"backup", "DIR", "an existing folder every image is copied into first, best on\n"
                            "another disk", false, "dir"},
          {"no-backup", nullptr, "copy straight into the archive (WantBackup 0)"},
      },
      {{"backup", "no-backup"}},
      nullptr,
      run_init,
  };
  return spec;
}

}  // namespace cw::app
