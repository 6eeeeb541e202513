// `cardwright cards`, `watch` and `eject`: the mounted cards as the main window and the
// ingestion monitor see them, an ingestion started by each card that arrives, and ejecting.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_ingest.h"
#include "app/console_run.h"
#include "control/card_detection.h"
#include "control/drive_snapshot.h"
#include "control/settings_access.h"
#include "foundation/text.h"

namespace cw::app {

namespace {

// The main window's status line as a command-line user acts on it: the window's Start button
// is `cardwright ingest` here.
std::string console_status(const std::string& status) {
  if (status == kStatusPressStart) return "Ready: `cardwright ingest` copies the card";
  if (status == kStatusChooseCard)
    return "Several sources: `cardwright ingest --card DIR` takes one, `--all-cards` every card";
  return status;
}

int run_cards(const CommandSpec& spec, Args& a) {
  if (!a.words.empty()) return usage_error(spec.name, "unexpected argument '" + a.words[0] + "'");
  const bool json = a.has("json");
  ConsoleUserInterface ui;
  CommandSession session(ui, 0);
  const std::unique_ptr<DriveSource> drives = session->open_drives();
  CardState state;
  DetectCard(*drives, state);
  std::optional<std::vector<DriveEntry>> entries = EnumerateCardDrives(*drives);
  if (!entries) return 1;
  if (!json) {
    // Roots, labels and device names come from the card and the reader: shown escaped.
    std::printf("%s\n%s\n", printable_text(console_status(state.status_text)).c_str(),
                printable_text(state.card_text).c_str());
    for (const DriveEntry& e : *entries)
      std::printf("%s\t%s\t%s%s\n", printable_text(e.root).c_str(),
                  printable_text(e.volume_name).c_str(),
                  e.device_name.empty() ? "(reader unknown)" : printable_text(e.device_name).c_str(),
                  e.selected ? "" : "\t(not selected)");
    return 0;
  }
  std::printf("{\"status\": %s, \"source\": %s, \"card\": %s, \"cards\": [",
              json_string(state.status_text).c_str(), json_string(state.card_text).c_str(),
              state.card_path.empty() ? "null" : json_string(state.card_path).c_str());
  for (std::size_t i = 0; i < entries->size(); ++i) {
    const DriveEntry& e = (*entries)[i];
    std::printf("%s{\"root\": %s, \"volume\": %s, \"device\": %s, \"selected\": %s}",
                i ? ", " : "", json_string(e.root).c_str(), json_string(e.volume_name).c_str(),
                json_string(e.device_name).c_str(), e.selected ? "true" : "false");
  }
  std::printf("]}\n");
  return 0;
}

int run_watch(const CommandSpec& spec, Args& a) {
  if (!a.words.empty()) return usage_error(spec.name, "unexpected argument '" + a.words[0] + "'");
  const bool once = a.has("once"), yes = a.has("yes");
  StartRequest names;
  if (int status = record_names_from_options(spec.name, a, names); status >= 0) return status;
  ConsoleUserInterface ui(yes);
  CommandSession session(ui, kSessionIngest);
  if (!session->ok() || !session->settings_ok()) return 1;
  DriveWatch watch(session->open_drives());
  DriveSource& drives = watch.source();
  CardState state;
  DetectCard(drives, state);
  std::fprintf(stderr, "Waiting for cards (Ctrl-C ends)...\n");
  int status = 0;
  StopSignals signals;
  while (!StopSignals::take()) {
    if (!watch.wait(std::chrono::seconds(1))) continue;
    for (const MediaNotification& n : watch.take_changes()) {
      std::fprintf(stderr, "%s %s\n", n.event == MediaEvent::kInserted ? "Mounted:" : "Removed:",
                   printable_text(n.path).c_str());
      const bool auto_ingest = session->settings().master().get_int("AutoIngest") != 0;
      const WatchStep step = on_watched_notification(drives, state, n, auto_ingest);
      if (step.action == WatchAction::kNothing) continue;
      if (const std::string why = watch_arrival_text(step); !why.empty())
        std::fprintf(stderr, "%s\n", printable_text(why).c_str());
      if (step.action != WatchAction::kIngest) continue;
      StartRequest request;
      request.client = names.client;
      request.project = names.project;
      request.card_name = names.card_name;
      request.source = step.card_path;
      ConsoleIngestOptions options;
      options.assume_yes = yes;
      status = run_console_ingestion(*session, ui, request, options);
      if (once) return status;
      std::fprintf(stderr, "Waiting for cards (Ctrl-C ends)...\n");
    }
  }
  return status;
}

int run_eject(const CommandSpec& spec, Args& a) {
  const bool all = a.has("all-cards");
  if (all == (a.words.size() == 1) || a.words.size() > 1)
    return usage_error(spec.name, "give one ROOT, or --all-cards");
  ConsoleUserInterface ui;
  CommandSession session(ui, 0);
  std::vector<std::string> roots;
  if (all) {
    const std::unique_ptr<DriveSource> drives = session->open_drives();
    std::optional<std::vector<DriveEntry>> entries = EnumerateCardDrives(*drives);
    if (!entries) return 1;
    for (const DriveEntry& e : *entries) roots.push_back(e.root);
  } else {
    roots.push_back(a.words[0]);
  }
  bool handled = true;
  for (const std::string& root : roots) handled = session->eject(root, stdout) && handled;
  return handled ? 0 : 1;
}

}  // namespace

const CommandSpec& cards_command() {
  static const CommandSpec spec{
      "cards",
      "show the mounted cards",
      {"[--json]"},
      "Shows what the main window shows about cards (its status, worded for the command\n"
      "line, and its source line), then the card drives the ingestion monitor would fill\n"
      "its slots with: root, volume and device. A card is a mounted file system with a\n"
      "DCIM folder at its root; a FUSE\n"
      "mount counts when a block device is behind it (exFAT's fuseblk, or a FAT driver\n"
      "mounted with -o fsname=DEVICE), never a network or program gateway (sshfs, gvfs).",
      {},
      {{"json", nullptr, "print the same as JSON"}},
      {},
      nullptr,
      run_cards,
  };
  return spec;
}

const CommandSpec& watch_command() {
  static const CommandSpec spec{
      "watch",
      "ingest each card as it is mounted",
      {"[--once] [--yes] [--client NAME] [--project NAME] [--card-name NAME]"},
      "Waits for cards: each card that arrives is ingested with the master preset's\n"
      "settings, as the main window does with AutoIngest, and ejected afterwards when the\n"
      "preset's AutoEject is on. A card that arrives while other cards are mounted is\n"
      "ingested on its own, one run per card, when the preset's AutoIngest is on; otherwise\n"
      "watch says so and prints the command that ingests it. Cards mounted before the watch\n"
      "began are left alone. Before copying, each ingestion prints the client, project and\n"
      "card record it is recorded under. Ctrl-C ends the watch (during an ingestion it\n"
      "stops that ingestion first).",
      {},
      with_record_name_options(
          {{"once", nullptr, "end after the first ingestion (default: watch until Ctrl-C)"},
           {"yes", nullptr, "answer Yes to every question"}},
          ""),
      {},
      "that of the last ingestion, 0 when none ran; 2 bad usage.",
      run_watch,
  };
  return spec;
}

const CommandSpec& eject_command() {
  static const CommandSpec spec{
      "eject",
      "unmount and eject a card",
      {"ROOT", "--all-cards"},
      "Unmounts the card mounted at ROOT (or every card) and ejects or powers off its\n"
      "drive when that is safe; a busy card stays mounted after about ten seconds of tries.",
      {},
      {{"all-cards", nullptr, "every mounted card"}},
      {},
      "0 when the request was handled, 1 when it could not be, 2 bad usage.",
      run_eject,
  };
  return spec;
}

}  // namespace cw::app
