// `cardwright multicam`: the multi-camera shoot on the command line (control/multicam.h). The
// folders named on the command line are the table; `list` shows it, `sync` shifts the times of
// every folder named and writes them to the files, `order` prints the merged image order and
// `ingest` ingests the images in that order through the Start flow.
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
#include "app/ingest_command.h"
#include "control/multicam.h"

namespace cw::app {

namespace {

constexpr const char* kName = "multicam";

void print_help() {
  std::printf(
      "Usage: cardwright multicam COMMAND [OPTIONS] DIR...\n"
      "Puts the folders of several cameras that photographed one event onto one clock, using\n"
      "the image files' modification times (EXIF data is never touched), and ingests all their\n"
      "images in one time order. Images are the files directly in each folder (no subfolders),\n"
      "except hidden files and .xmp sidecars.\n\n"
      "Commands:\n"
      "  list [--sort folder|start|end|adjust|images] [--json] DIR...\n"
      "        each folder's first and last image time (local time) and its image count\n"
      "  sync (--to \"YYYY-MM-DD HH:MM:SS\" | --shift [-]SECONDS) [--dry-run] [--yes] DIR...\n"
      "        move the times of every image of the folders by SECONDS, or by as much as\n"
      "        makes the first folder (the one that starts first) start at the given local\n"
      "        time; asks first (--yes answers Yes); --dry-run only shows the adjustment\n"
      "  order DIR...\n"
      "        every image of the folders, oldest first (equal times by file name)\n"
      "  ingest [INGEST FLAGS] DIR...\n"
      "        ingest the images of the folders in that order; the flags are those of\n"
      "        'cardwright ingest' except --card, --files, --all-cards and --skip\n\n"
      "Exit status: 0 success, 1 failure or nothing changed, 2 bad usage.\n");
}

struct Args {
  std::vector<std::string> folders;
  std::optional<std::string> sort, to, shift;
  bool json = false, dry_run = false, yes = false;
};

// Splits the folders from the options of `command`; false (after a usage message) on an
// option that command does not take.
bool parse(const std::string& command, int argc, char** argv, Args& a) {
  const std::string usage = std::string(kName) + " " + command;
  auto takes = [&](const std::string& option) {
    static const char* const kAllowed[][2] = {
        {"list", "--sort"},  {"list", "--json"},    {"sync", "--to"},
        {"sync", "--shift"}, {"sync", "--dry-run"}, {"sync", "--yes"},
    };
    for (const auto& allowed : kAllowed)
      if (command == allowed[0] && option == allowed[1]) return true;
    return false;
  };
  bool options = true;  // until "--"
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
      continue;
    }
    if (!options || arg.rfind("--", 0) != 0) {
      a.folders.push_back(arg);
      continue;
    }
    std::optional<std::string> value;
    if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.erase(eq);
    }
    if (!takes(arg)) {
      usage_error(usage.c_str(), ("unknown option " + arg).c_str());
      return false;
    }
    std::optional<std::string>* slot = arg == "--sort"    ? &a.sort
                                       : arg == "--to"    ? &a.to
                                       : arg == "--shift" ? &a.shift
                                                          : nullptr;
    if (!slot) {
      (arg == "--json" ? a.json : arg == "--dry-run" ? a.dry_run : a.yes) = true;
      continue;
    }
    if (!value && i + 1 < argc) value = argv[++i];
    if (!value) {
      usage_error(usage.c_str(), (arg + " needs a value").c_str());
      return false;
    }
    *slot = *value;
  }
  if (a.folders.empty()) {
    usage_error(usage.c_str(), "name at least one folder");
    return false;
  }
  return true;
}

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

int list(const Args& a, MultiCamera& m) {
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

int sync(const Args& a, MultiCamera& m) {
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
    char* end = nullptr;
    errno = 0;
    const long long seconds = std::strtoll(a.shift->c_str(), &end, 10);
    if (a.shift->empty() || *end != '\0' || errno == ERANGE)
      return usage_error("multicam sync", "--shift expects a whole number of seconds");
    unchanged = seconds == 0;
    adjusted = m.shift(rows, seconds);
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
  return counts->complete ? 0 : 1;
}

int order(MultiCamera& m) {
  const std::optional<std::vector<std::string>> images = m.merged_images();
  if (!images) return 1;
  for (const std::string& path : *images) std::printf("%s\n", path.c_str());
  return 0;
}

int ingest(int argc, char** argv) {
  IngestArgs p;
  const char* command = "multicam ingest";
  if (int status = parse_ingest_flags(command, argc, argv, p); status >= 0) return status;
  if (p.help) {
    std::printf(
        "Usage: cardwright multicam ingest [INGEST FLAGS] DIR...\n"
        "Ingests every image of the folders, oldest first (equal times by file name), as one\n"
        "ingestion. The flags are those of 'cardwright ingest' except --card, --files,\n"
        "--all-cards and --skip.\n");
    return 0;
  }
  if (!p.card.empty() || !p.files.empty() || p.request.cards_mode || !p.skip_roots.empty())
    return usage_error(command, "the images come from the folders: no --card, --files or cards");
  if (p.operands.empty()) return usage_error(command, "name at least one folder");
  return run_ingest(p, [&p](StartRequest& request) {
    MultiCamera m;
    return m.add_folders(p.operands) && m.reingest_request(request);
  });
}

}  // namespace

int cmd_multicam(int argc, char** argv) {
  const std::string command = argc > 0 ? argv[0] : "";
  if (command.empty() || command == "--help" || command == "-h") {
    print_help();
    return command.empty() ? 2 : 0;
  }
  if (command == "ingest") return ingest(argc - 1, argv + 1);
  if (command != "list" && command != "sync" && command != "order")
    return usage_error(kName, ("unknown command '" + command + "'").c_str());
  std::vector<std::string> words;
  if (wants_help(argc, argv, words)) {
    print_help();
    return 0;
  }
  Args a;
  if (!parse(command, argc - 1, argv + 1, a)) return 2;
  // A dry run only shows the adjustment: its confirmation changes nothing on disk.
  ConsoleUserInterface ui(a.yes || a.dry_run);
  CommandSession session(ui, 0, stdout);
  MultiCamera m;
  if (!m.add_folders(a.folders)) return 1;
  if (command == "list") return list(a, m);
  if (command == "sync") return sync(a, m);
  return order(m);
}

}  // namespace cw::app
