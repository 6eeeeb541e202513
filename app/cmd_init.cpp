// `cardwright init`: the set-up of a new archive. Asks for (or takes) the archive folder and
// the backup folder and saves them into the master preset, so that the next 'cardwright
// ingest --card DIR' needs nothing else. The same questions come before the first ingestion
// on a terminal.
#include <cstdio>
#include <string>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_ingest.h"
#include "control/settings_setup.h"

namespace cw::app {

namespace {

// Saves the set-up and says what was saved; false after saying why not.
bool save_setup(CWParam& param, const ArchiveFolders& folders) {
  std::string why;
  if (!save_archive_folders(param, folders, why)) {
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
  ArchiveFolders folders{a.value("archive").value_or(""), a.value("backup")};
  ConsoleUserInterface ui;
  if (folders.archive.empty() && !ConsoleUserInterface::interactive())
    return usage_error(spec.name, "give --archive DIR and --backup DIR (or --no-backup), or run "
                                  "it on a terminal to be asked");
  if (!folders.archive.empty() && !folders.backup && !a.has("no-backup"))
    return usage_error(spec.name, "give --backup DIR (an existing folder), or --no-backup to "
                                  "copy without a backup");
  CommandSession session(ui, kSessionSettings);
  if (!session->settings_ok()) return 1;
  if (folders.archive.empty()) {
    std::optional<ArchiveFolders> asked = ask_archive_folders(ui, folders);
    if (!asked) return failure(spec.name, "nothing saved: no archive folder given");
    folders = *asked;
  }
  return save_setup(session->settings(), folders) ? 0 : 1;
}

}  // namespace

SetupOffer offer_first_run_setup(AppSession& session, ConsoleUserInterface& ui) {
  CWParam& param = session.settings();
  if (!ConsoleUserInterface::interactive() || !archive_setup_due(param))
    return SetupOffer::kNotNeeded;
  if (!ui.ask_yes_no("No archive is set up yet. Set up the archive and backup folders now?"))
    return SetupOffer::kNotNeeded;
  const std::optional<ArchiveFolders> folders = ask_archive_folders(ui, {});
  if (!folders) return SetupOffer::kNotNeeded;
  return save_setup(param, *folders) ? SetupOffer::kDone : SetupOffer::kFailed;
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
