// `cardwright multicam`: the multi-camera shoot on the command line (control/multicam.h). The
// folders named on the command line are the table; `list` shows it, `sync` shifts the times of
// every folder named and writes them to the files, `order` prints the merged image order and
// `ingest` ingests the images in that order through the Start flow, with each image's capture
// time corrected by what earlier syncs wrote (and by --shift, for the ingestion only).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_run.h"
#include "app/console_ingest.h"
#include "control/multicam.h"

namespace cw::app {

namespace {

constexpr const char* kName = "multicam";

struct MultiArgs {
  std::vector<std::string> folders;
  std::optional<std::string> sort, to, shift;
  bool json = false, dry_run = false;
};

void print_table(const MultiCamera& m) {
  std::size_t width = 6;
  for (const ImageFolderInfo& f : m.folders()) width = std::max(width, f.path.size());
  const int w = static_cast<int>(width);
  std::printf("%-*s  %-19s  %-19s  %8s  %6s\n", w, kMultiCamHeaders[0], kMultiCamHeaders[1],
              kMultiCamHeaders[2], kMultiCamHeaders[3], kMultiCamHeaders[4]);
  for (const ImageFolderInfo& f : m.folders()) {
    const std::vector<std::string> t = MultiCamera::row_texts(f);
    std::printf("%-*s  %-19s  %-19s  %8s  %6s\n", w, t[0].c_str(), t[1].c_str(), t[2].c_str(),
                t[3].c_str(), t[4].c_str());
  }
}

void print_json_table(const MultiCamera& m) {
  std::printf("[");
  const char* separator = "\n";
  for (const ImageFolderInfo& f : m.folders()) {
    const std::vector<std::string> t = MultiCamera::row_texts(f);
    auto json_time = [](const std::string& text) {
      return text.empty() ? "null" : json_string(text);
    };
    std::printf(
        "%s  {\"folder\": %s, \"start\": %s, \"end\": %s, \"adjustment\": %s, \"images\": %s}",
        separator, json_string(f.path).c_str(), json_time(t[1]).c_str(), json_time(t[2]).c_str(),
        t[3].c_str(), t[4].c_str());
    separator = ",\n";
  }
  std::printf("\n]\n");
}

int list(const MultiArgs& a, MultiCamera& m) {
  static const char* const kSorts[] = {"folder", "start", "end", "adjust", "images"};
  if (a.sort) {
    int column = 0;
    while (column < 5 && *a.sort != kSorts[column]) ++column;
    if (column == 5)
      return usage_error("multicam list", "--sort takes folder, start, end, adjust or images");
    m.sort_by(static_cast<MultiCamColumn>(column));
  }
  if (a.json)
    print_json_table(m);
  else
    print_table(m);
  return 0;
}

// A whole number of seconds; none for any other text.
std::optional<long long> seconds_of(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const long long seconds = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE) return std::nullopt;
  return seconds;
}

int sync(const MultiArgs& a, MultiCamera& m) {
  if (a.to.has_value() == a.shift.has_value())
    return usage_error("multicam sync", "give either --to or --shift");
  std::vector<std::size_t> rows(m.folders().size());
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = i;
  bool unchanged = false, adjusted = false;
  if (a.to) {
    const std::optional<std::time_t> target = parse_local_time(*a.to);
    if (!target) return usage_error("multicam sync", "--to expects \"YYYY-MM-DD HH:MM:SS\"");
    const ImageFolderInfo& first = m.folders().front();
    unchanged = first.image_count > 0 && first.start == *target;
    adjusted = m.adjust(rows, *target);
  } else {
    const std::optional<long long> seconds = seconds_of(*a.shift);
    if (!seconds) return usage_error("multicam sync", "--shift expects a whole number of seconds");
    unchanged = *seconds == 0;
    adjusted = m.shift(rows, *seconds);
  }
  if (!adjusted) {
    if (unchanged) return 0;
    std::fprintf(stderr, "Nothing was changed (--yes answers Yes).\n");
    return 1;
  }
  if (a.dry_run) {
    print_table(m);
    return 0;
  }
  const std::optional<SyncCounts> counts = m.sync_files();
  if (!counts) {
    std::fprintf(stderr, "Nothing was changed (--yes answers Yes).\n");
    return 1;
  }
  print_table(m);
  if (counts->folders > 0)
    std::printf("\nThe shift is recorded in the sync journal (%s):\n"
                "'cardwright multicam ingest' of these folders names their images by the\n"
                "corrected times, EXIF dates included.\n",
                default_sync_journal_path().c_str());
  return counts->complete ? 0 : 1;
}

int order(MultiCamera& m) {
  const std::optional<std::vector<std::string>> images = m.merged_images();
  if (!images) return 1;
  for (const std::string& path : *images) std::printf("%s\n", path.c_str());
  return 0;
}

// Ingests the images of the folders in their merged order, with the options of `ingest`.
int ingest(const Args& a, const std::vector<std::string>& folders) {
  const char* command = "multicam ingest";
  StartRequest request;
  ConsoleIngestOptions options;
  if (int status = ingest_request_from_options(command, a, request, options); status >= 0)
    return status;
  ConsoleUserInterface ui(options.assume_yes);
  CommandSession session(ui, kSessionIngest, options.json ? stderr : stdout);
  if (!session->ok() || !session->settings_ok()) return 1;
  MultiCamera m(ui);
  if (!m.add_folders(folders)) return 1;
  // --shift corrects the capture times of this ingestion only: as pending adjustments that
  // are never written.
  for (const std::string& given : a.values("shift")) {
    const std::size_t equals = given.rfind('=');
    const std::optional<long long> seconds =
        seconds_of(equals == std::string::npos ? given : given.substr(equals + 1));
    if (!seconds)
      return bad_value(command, "shift", given, "expects [-]SECONDS or DIR=[-]SECONDS");
    std::vector<std::size_t> rows;
    if (equals == std::string::npos) {
      for (std::size_t i = 0; i < m.folders().size(); ++i) rows.push_back(i);
    } else if (const std::optional<std::size_t> row = m.row_of(given.substr(0, equals))) {
      rows.push_back(*row);
    } else {
      return bad_value(command, "shift", given, "names a folder that is not one of the DIRs");
    }
    if (!m.shift(rows, *seconds, false) && *seconds != 0) return 1;
  }
  if (!m.reingest_request(request, true)) return 1;
  request.write_exif_times = a.has("write-exif-times");
  return run_console_ingestion(*session, ui, request, options);
}

int run_multicam(const CommandSpec&, Args& a) {
  if (a.words.empty()) return usage_error(kName, "a command is required (list, sync, order, ingest)");
  const std::string command = a.words[0];
  MultiArgs m_args;
  m_args.folders.assign(a.words.begin() + 1, a.words.end());
  if (m_args.folders.empty()) return usage_error(kName, command + " takes at least one folder");
  if (command == "ingest") return ingest(a, m_args.folders);
  m_args.sort = a.value("sort");
  m_args.to = a.value("to");
  m_args.shift = a.value("shift");
  if (a.values("shift").size() > 1)
    return usage_error("multicam sync", "give --shift once (it moves every folder named)");
  m_args.json = a.has("json");
  m_args.dry_run = a.has("dry-run");
  // A dry run only shows the adjustment: its confirmation changes nothing on disk.
  ConsoleUserInterface ui(a.has("yes") || m_args.dry_run);
  CommandSession session(ui, 0, stdout);
  MultiCamera m(ui);
  if (!m.add_folders(m_args.folders)) return 1;
  if (command == "list") return list(m_args, m);
  if (command == "sync") return sync(m_args, m);
  return order(m);
}

// The options of `ingest` that name the images, which come from the folders here.
bool names_images(const std::string& option) {
  return option == "card" || option == "files" || option == "all-cards" || option == "skip";
}

// The options of `multicam`: its own, then those of `ingest` for `multicam ingest`, but the
// ones that name the images. An option of both (--json, --dry-run, --yes, --shift) is listed
// once, for the subcommands of both.
std::vector<OptionSpec> multicam_options() {
  std::vector<OptionSpec> options = {
      {"sort", "COLUMN", "the column to sort by: folder, start (default), end, adjust or images",
       false, "folder start end adjust images", "list"},
      {"json", nullptr, "list: print the table as JSON; ingest: print the counters and the\n"
                        "record as JSON instead of the report", false, nullptr, "list ingest"},
      {"to", "\"YYYY-MM-DD HH:MM:SS\"", "move every folder's times so that the first folder starts\n"
                                       "at this local time", false, nullptr, "sync"},
      {"shift", "[-]SECONDS|DIR=[-]SECONDS",
       "sync: move every folder's times by this many seconds.\n"
       "ingest: correct the capture times of every folder (or of DIR,\n"
       "one of the folders named; repeat for several) by this many\n"
       "seconds for this ingestion only: names and folders carry the\n"
       "corrected times and no source file is changed. Shifts that\n"
       "'multicam sync' wrote need no --shift: ingest reads them from\n"
       "the sync journal kept in the user's folder (never on the card)",
       true, nullptr, "sync ingest"},
      {"dry-run", nullptr, "sync: only show the adjusted table; ingest: show where every image\n"
                           "would go, under the names a real run would give it; no file is\n"
                           "changed, copied or created and nothing is recorded",
       false, nullptr, "sync ingest"},
      {"yes", nullptr, "answer Yes to every question (sync: the one before the files change)",
       false, nullptr, "sync ingest"},
      {"write-exif-times", nullptr,
       "write the corrected capture dates (DateTimeOriginal, CreateDate,\n"
       "ModifyDate, those the image has) into the final copies through\n"
       "ExifTool; the source files and the pre-conversion backup keep the\n"
       "card's dates, and videos are named in the report, not written",
       false, nullptr, "ingest"},
  };
  for (OptionSpec o : ingest_command().options) {
    const std::string name = o.name;
    if (names_images(name) ||
        std::any_of(options.begin(), options.end(),
                    [&name](const OptionSpec& own) { return name == own.name; }))
      continue;
    o.subcommands = "ingest";
    options.push_back(o);
  }
  return options;
}

// Options that exclude each other: --to and --shift, and those of `ingest` that are left.
std::vector<std::pair<const char*, const char*>> multicam_conflicts() {
  std::vector<std::pair<const char*, const char*>> conflicts = {{"to", "shift"}};
  for (const auto& pair : ingest_command().conflicts)
    if (!names_images(pair.first) && !names_images(pair.second)) conflicts.push_back(pair);
  return conflicts;
}

}  // namespace

const CommandSpec& multicam_command() {
  static const CommandSpec spec{
      "multicam",
      "put several cameras' folders on one clock and ingest them in time order",
      {"list [--sort COLUMN] [--json] DIR...",
       "sync (--to \"YYYY-MM-DD HH:MM:SS\" | --shift [-]SECONDS) [--dry-run] [--yes] DIR...",
       "order DIR...",
       "ingest [--shift [DIR=][-]SECONDS]... [--write-exif-times] [INGEST OPTIONS] DIR..."},
      "Puts the folders of several cameras that photographed one event onto one clock, using\n"
      "the image files' modification times (EXIF data is never touched), and ingests all their\n"
      "images in one time order. Images are the files directly in each folder (no subfolders),\n"
      "except hidden files and .xmp sidecars.\n"
      "\n"
      "A sync moves the files' times only; the EXIF dates inside them keep the camera's clock.\n"
      "So every sync is recorded in the sync journal in the user's folder (multicam-sync.txt,\n"
      "never beside the images), and 'multicam ingest' corrects each synchronized image's\n"
      "capture time by what its syncs wrote, whatever the name and folder formats read (the\n"
      "EXIF date, the file's time, a movie's header time), and says so folder by folder. An\n"
      "image changed since its sync is named and taken as it is; no correction is ever guessed\n"
      "from its times. 'ingest --shift' corrects the capture times without any sync, and\n"
      "'ingest --write-exif-times' writes the corrected dates into the archived copies.",
      {
          {"list", "DIR...", "each folder's first and last image time (local time) and its\n"
                             "image count", "dir"},
          {"sync", "DIR...", "move the times of every image of the folders (asks first)", "dir"},
          {"order", "DIR...", "every image of the folders, oldest first (equal times by name)",
           "dir"},
          {"ingest", "DIR...", "ingest the images of the folders in that order; the options are\n"
                               "those of 'cardwright ingest' but --card, --files, --all-cards\n"
                               "and --skip", "dir"},
      },
      multicam_options(),
      multicam_conflicts(),
      "0 success, 1 failure or nothing changed, 2 bad usage",
      run_multicam,
  };
  return spec;
}

}  // namespace cw::app
