// `cardwright disc plan|drives|burn`: how folders of an archive spread over discs, the
// machine's recorders, and writing the planned discs to a recorder or to image files.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_run.h"
#include "disc/burn.h"
#include "disc/libburn_recorder.h"

namespace cw::app {

namespace {

constexpr const char* kName = "disc";

void print_help() {
  std::printf(
      "Usage: cardwright disc plan ROOT FOLDER... [PLAN OPTIONS] [--json]\n"
      "       cardwright disc drives\n"
      "       cardwright disc burn ROOT FOLDER... [PLAN OPTIONS] (--drive DEV | --image-dir DIR)"
      " [--yes]\n"
      "plan shows how the folders (below ROOT) fill discs; drives lists the recorders; burn\n"
      "writes the planned discs to the recorder DEV (asking before each disc unless --yes) or\n"
      "to one image file per disc, DIR/<disc label>.iso.\n\n"
      "Plan options:\n"
      "  --title TEXT       the set's title (default \"Selected Folders\")\n"
      "  --key N            the ingestion record that numbers the discs (labels NA_001...)\n"
      "  --subfolders       take every subfolder of the folders given\n"
      "  --capacity BYTES   bytes per disc (default %llu)\n",
      static_cast<unsigned long long>(kDiscCapacity));
}

struct Args {
  PlanRequest plan;
  std::string drive, image_dir;
  bool json = false, yes = false;
};

bool parse(int argc, char** argv, Args& a) {
  a.plan.title = "Selected Folders";
  std::vector<std::string> words;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    auto number = [&](long long& out) {
      const char* v = value();
      char* end = nullptr;
      out = v ? std::strtoll(v, &end, 10) : 0;
      if (v && *v && !*end && out > 0) return true;
      usage_error(kName, (arg + " expects a positive number").c_str());
      return false;
    };
    long long n = 0;
    if (arg == "--title" || arg == "--drive" || arg == "--image-dir") {
      const char* v = value();
      if (!v) {
        usage_error(kName, (arg + " needs a value").c_str());
        return false;
      }
      (arg == "--title" ? a.plan.title : arg == "--drive" ? a.drive : a.image_dir) = v;
    } else if (arg == "--key") {
      if (!number(n)) return false;
      a.plan.key = static_cast<int>(n);
    } else if (arg == "--capacity") {
      if (!number(n)) return false;
      a.plan.capacity = static_cast<std::uint64_t>(n);
    } else if (arg == "--subfolders") {
      a.plan.subfolders = true;
    } else if (arg == "--json") {
      a.json = true;
    } else if (arg == "--yes" || arg == "-y") {
      a.yes = true;
    } else if (arg.rfind("--", 0) == 0) {
      usage_error(kName, ("unknown option " + arg).c_str());
      return false;
    } else {
      words.push_back(arg);
    }
  }
  if (words.size() < 2) {
    usage_error(kName, "ROOT and at least one FOLDER are required");
    return false;
  }
  a.plan.root = words[0];
  a.plan.folders.assign(words.begin() + 1, words.end());
  return true;
}

void print_plan(const DiscSet& set, bool json) {
  if (!json) {
    std::printf("%s\n", set.discs.empty() ? no_images_text() : plan_summary(set).c_str());
    for (std::size_t i = 0; i < set.discs.size(); ++i) {
      std::printf("%s\t%llu bytes\n", disc_label(set, i).c_str(),
                  static_cast<unsigned long long>(set.discs[i].size));
      for (const DiscFolder& f : set.discs[i].folders)
        std::printf("  %s\t%zu files\t%llu bytes\n", f.name.c_str(), f.files.size(),
                    static_cast<unsigned long long>(f.size));
    }
    return;
  }
  std::printf("{\"title\": %s, \"summary\": %s, \"discs\": [", json_string(set.title).c_str(),
              json_string(set.discs.empty() ? no_images_text() : plan_summary(set)).c_str());
  for (std::size_t i = 0; i < set.discs.size(); ++i) {
    std::printf("%s{\"label\": %s, \"bytes\": %llu, \"folders\": [", i ? ", " : "",
                json_string(disc_label(set, i)).c_str(),
                static_cast<unsigned long long>(set.discs[i].size));
    const auto& folders = set.discs[i].folders;
    for (std::size_t k = 0; k < folders.size(); ++k)
      std::printf("%s{\"name\": %s, \"files\": %zu, \"bytes\": %llu}", k ? ", " : "",
                  json_string(folders[k].name).c_str(), folders[k].files.size(),
                  static_cast<unsigned long long>(folders[k].size));
    std::printf("]}");
  }
  std::printf("]}\n");
}

}  // namespace

int cmd_disc(int argc, char** argv) {
  std::vector<std::string> words;
  if (wants_help(argc, argv, words) || argc < 1) {
    print_help();
    return argc < 1 ? 2 : 0;
  }
  const std::string verb = argv[0];
  if (verb == "drives") {
    if (argc != 1) return usage_error(kName, "drives takes no arguments");
    ConsoleUserInterface ui;
    CommandSession session(ui, 0);
    std::vector<RecorderInfo> drives;
    std::string message;
    if (!list_drives(drives, message)) {
      std::fprintf(stderr, "%s\n", message.c_str());
      return 1;
    }
    for (const RecorderInfo& d : drives) std::printf("%s\t%s\n", d.id.c_str(), d.display.c_str());
    if (drives.empty()) std::fprintf(stderr, "No recorder found.\n");
    return 0;
  }
  if (verb != "plan" && verb != "burn")
    return usage_error(kName, ("unknown command '" + verb + "'").c_str());
  Args a;
  if (!parse(argc - 1, argv + 1, a)) return 2;
  if (verb == "burn" && a.drive.empty() == a.image_dir.empty())
    return usage_error(kName, "burn needs --drive DEV or --image-dir DIR");
  ConsoleUserInterface ui(a.yes);
  CommandSession session(ui, 0);
  DiscSet set;
  std::string message;
  if (!plan_discs(a.plan, set, message)) {
    std::fprintf(stderr, "%s\n", plan_failure_text(message).c_str());
    return 1;
  }
  if (verb == "plan") {
    print_plan(set, a.json);
    return 0;
  }
  std::printf("%s\n", set.discs.empty() ? no_images_text() : plan_summary(set).c_str());
  BurnOutcome outcome;
  if (!a.image_dir.empty()) {
    outcome = burn_discs_to_images(set, a.image_dir);
  } else {
    LibburnSystem drives;
    outcome = burn_discs(set, drives, a.drive, a.yes);
  }
  if (!outcome.ok && !outcome.message.empty()) std::fprintf(stderr, "%s\n", outcome.message.c_str());
  std::printf("%d of %zu disc(s) written\n", outcome.discs_burned, outcome.discs);
  return outcome.ok ? 0 : 1;
}

}  // namespace cw::app
