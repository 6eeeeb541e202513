// `cardwright init`: the set-up of a new archive. Asks for (or takes) the archive folder, the
// backup folder, the file names of the copies, the creator and the copyright notice and saves
// them into the presets, so that the next 'cardwright ingest --card DIR' needs nothing else.
// The same questions come before the first ingestion on a terminal, and the desktop program's
// first-run assistant saves the same settings.
#include <cstdio>
#include <string>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_ingest.h"
#include "control/settings_setup.h"

namespace cw::app {

namespace {

// Saves the set-up and says what was saved; false after saying why not.
bool save_setup(CWParam& param, const ArchiveSetup& setup) {
  std::string why;
  if (!save_archive_setup(param, setup, why)) {
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
  if (setup.name_format)
    std::printf("  NameFormat     %s\n", m.get_str("NameFormat").value_or("").c_str());
  if (setup.creator) std::printf("  Creator        %s\n", setup.creator->c_str());
  if (setup.copyright) std::printf("  Copyright      %s\n", setup.copyright->c_str());
  std::printf(
      "Next: 'cardwright ingest --card DIR --dry-run' shows where a card's images would go;\n"
      "'cardwright preset keys master' lists every setting.\n");
  return true;
}

// Opens the catalogue (building its tables and default rows) and makes it this station's
// preference "Catalogue"; an empty one goes back to the embedded file. False after the
// opening said why.
bool save_catalogue(const std::string& catalogue) {
  std::string shown;
  if (!choose_catalogue(catalogue, shown)) return false;
  std::printf("Catalogue      %s\n",
              catalogue.empty() ? "the embedded file in the user folder" : shown.c_str());
  return true;
}

int run_init(const CommandSpec& spec, Args& a) {
  if (!a.words.empty()) return usage_error(spec.name, "unexpected argument '" + a.words[0] + "'");
  ArchiveSetup setup{a.value("archive").value_or(""), a.value("backup"), a.value("name-format"),
                     a.value("creator"), a.value("copyright")};
  ConsoleUserInterface ui;
  if (const std::optional<std::string> catalogue = a.value(kCatalogueOption)) {
    if (!save_catalogue(*catalogue)) return 1;
    if (a.given.size() == 1) return 0;  // the catalogue alone was set up
  }
  if (setup.archive.empty() && !ConsoleUserInterface::interactive())
    return usage_error(spec.name, "give --archive DIR and --backup DIR (or --no-backup), or run "
                                  "it on a terminal to be asked");
  if (!setup.archive.empty() && !setup.backup && !a.has("no-backup"))
    return usage_error(spec.name, "give --backup DIR (an existing folder), or --no-backup to "
                                  "copy without a backup");
  CommandSession session(ui, kSessionSettings);
  if (!session->settings_ok()) return 1;
  if (setup.archive.empty()) {
    // The questions offer what the options gave, else what is set.
    ArchiveSetup start = current_archive_setup(session->settings());
    start.archive.clear();
    for (auto [given, offered] : {std::pair{&setup.name_format, &start.name_format},
                                  std::pair{&setup.creator, &start.creator},
                                  std::pair{&setup.copyright, &start.copyright}})
      if (*given) *offered = *given;
    std::optional<ArchiveSetup> asked = ask_archive_setup(ui, start);
    if (!asked) return failure(spec.name, "nothing saved: no archive folder given");
    setup = *asked;
  }
  return save_setup(session->settings(), setup) ? 0 : 1;
}

}  // namespace

SetupOffer offer_first_run_setup(AppSession& session, ConsoleUserInterface& ui) {
  CWParam& param = session.settings();
  if (!ConsoleUserInterface::interactive() || !archive_setup_due(param))
    return SetupOffer::kNotNeeded;
  if (!ui.ask_yes_no("No archive is set up yet. Set up the archive and backup folders now?"))
    return SetupOffer::kNotNeeded;
  const std::optional<ArchiveSetup> setup = ask_archive_setup(ui, current_archive_setup(param));
  if (!setup) return SetupOffer::kNotNeeded;
  return save_setup(param, *setup) ? SetupOffer::kDone : SetupOffer::kFailed;
}

const CommandSpec& init_command() {
  static const CommandSpec spec{
      "init",
      "set up the archive: its folders, the names of the copies, creator and copyright",
      {"[--archive DIR (--backup DIR | --no-backup) [--name-format SPEC] [--creator NAME] "
       "[--copyright TEXT]] [--catalogue URL]"},
      "Saves the archive folder (PrimaryFolder) and the pre-conversion backup folder\n"
      "(BackupFolder, with WantBackup on) into the current master preset, which every\n"
      "ingestion starts from; a name format into NameFormat; a creator into the photographer\n"
      "preset and a copyright notice (marked Copyrighted) into the rights preset the master\n"
      "names. Without options it asks on the terminal. The backup folder must exist: a missing\n"
      "disk must not get a backup folder on the wrong one. The same questions come before the\n"
      "first 'cardwright ingest' on a terminal; the desktop program's first-run assistant\n"
      "saves the same settings. With --catalogue, the station records its ingestions in that\n"
      "catalogue from now on (preference Catalogue; its tables are made when new): a\n"
      "\"postgresql://user@host:port/dbname\" server that several stations share, its password\n"
      "in PGPASSFILE or ~/.pgpass; an empty URL goes back to the embedded file.",
      {},
      {
          {"archive", "DIR", "root folder of the archive (created by the first ingestion)", false,
           "dir"},
          {"backup", "DIR", "an existing folder every image is copied into first, best on\n"
                            "another disk", false, "dir"},
          {"no-backup", nullptr, "copy straight into the archive (WantBackup 0)"},
          {"name-format", "SPEC", "file names of the copies, a macro specification\n"
                                  "('cardwright macro --reference')"},
          {"creator", "NAME", "the photographer's name for every sidecar"},
          {"copyright", "TEXT", "the copyright notice for every sidecar"},
      },
      {{"backup", "no-backup"}},
      nullptr,
      run_init,
  };
  return spec;
}

}  // namespace cw::app
