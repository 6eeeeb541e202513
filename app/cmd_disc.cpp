// `cardwright disc plan|drives|burn`: how folders of an archive spread over discs, the
// machine's recorders, and writing the planned discs to a recorder or to image files.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_run.h"
#include "control/disc_burning.h"

namespace cw::app {

namespace {

constexpr const char* kName = "disc";

struct DiscArgs {
  PlanRequest plan;
  std::string drive, image_dir;
  bool json = false, yes = false;
};

// The plan request from the options and the words after the subcommand; a usage error (2)
// or -1.
int parse(const Args& in, DiscArgs& a) {
  a.plan.title = in.value("title").value_or("Selected Folders");
  for (const char* option : {"key", "capacity"})
    if (auto v = in.value(option)) {
      char* end = nullptr;
      const long long n = std::strtoll(v->c_str(), &end, 10);
      if (v->empty() || *end || n <= 0) return bad_value(kName, option, *v, "expects a number above 0");
      if (std::string(option) == "key")
        a.plan.key = static_cast<int>(n);
      else
        a.plan.capacity = static_cast<std::uint64_t>(n);
    }
  a.plan.subfolders = in.has("subfolders");
  a.drive = in.value("drive").value_or("");
  a.image_dir = in.value("image-dir").value_or("");
  a.json = in.has("json");
  a.yes = in.has("yes");
  if (in.words.size() < 3) return usage_error(kName, "ROOT and at least one FOLDER are required");
  a.plan.root = in.words[1];
  a.plan.folders.assign(in.words.begin() + 2, in.words.end());
  return -1;
}

void print_plan(const DiscSet& set, bool json) {
  if (!json) {
    std::printf("%s\n", set.discs.empty() ? no_images_text() : plan_summary(set).c_str());
    for (std::size_t i = 0; i < set.discs.size(); ++i) {
      std::printf("%s\t%llu bytes\t%llu bytes with its file system\n", disc_label(set, i).c_str(),
                  static_cast<unsigned long long>(set.discs[i].size),
                  static_cast<unsigned long long>(set.discs[i].image_size));
      for (const DiscFolder& f : set.discs[i].folders)
        std::printf("  %s\t%zu files\t%llu bytes\n", f.name.c_str(), f.files.size(),
                    static_cast<unsigned long long>(f.size));
    }
    for (const SkippedEntry& e : set.skipped) std::printf("%s\n", skipped_text(e).c_str());
    return;
  }
  std::printf("{\"title\": %s, \"summary\": %s, \"discs\": [", json_string(set.title).c_str(),
              json_string(set.discs.empty() ? no_images_text() : plan_summary(set)).c_str());
  for (std::size_t i = 0; i < set.discs.size(); ++i) {
    std::printf("%s{\"label\": %s, \"bytes\": %llu, \"image_bytes\": %llu, \"folders\": [",
                i ? ", " : "", json_string(disc_label(set, i)).c_str(),
                static_cast<unsigned long long>(set.discs[i].size),
                static_cast<unsigned long long>(set.discs[i].image_size));
    const auto& folders = set.discs[i].folders;
    for (std::size_t k = 0; k < folders.size(); ++k)
      std::printf("%s{\"name\": %s, \"files\": %zu, \"bytes\": %llu}", k ? ", " : "",
                  json_string(folders[k].name).c_str(), folders[k].files.size(),
                  static_cast<unsigned long long>(folders[k].size));
    std::printf("]}");
  }
  std::printf("], \"skipped\": [");
  for (std::size_t i = 0; i < set.skipped.size(); ++i)
    std::printf("%s{\"path\": %s, \"link\": %s}", i ? ", " : "",
                json_string(set.skipped[i].path).c_str(), set.skipped[i].link ? "true" : "false");
  std::printf("]}\n");
}

int run_disc(const CommandSpec&, Args& in) {
  if (in.words.empty()) return usage_error(kName, "a command is required (plan, drives, burn)");
  const std::string& verb = in.words[0];
  if (verb == "drives") {
    if (in.words.size() != 1) return usage_error(kName, "drives takes no arguments");
    ConsoleUserInterface ui;
    CommandSession session(ui, 0);
    std::vector<RecorderInfo> drives;
    std::string message;
    if (!list_recorders(drives, message)) return failure(kName, message);
    for (const RecorderInfo& d : drives) std::printf("%s\t%s\n", d.id.c_str(), d.display.c_str());
    if (drives.empty()) std::fprintf(stderr, "No recorder found.\n");
    return 0;
  }
  DiscArgs a;
  if (int status = parse(in, a); status >= 0) return status;
  if (verb == "burn" && a.drive.empty() && a.image_dir.empty())
    return usage_error(kName, "burn needs --drive DEV or --image-dir DIR");
  ConsoleUserInterface ui(a.yes);
  CommandSession session(ui, verb == "burn" ? kSessionDatabase : 0);
  DiscSet set;
  std::string message;
  if (!plan_burn(a.plan, set, message)) {
    std::fprintf(stderr, "%s\n", plan_failure_text(message).c_str());
    return 1;
  }
  if (verb == "plan") {
    print_plan(set, a.json);
    return 0;
  }
  // Hashes the ledger holds go into each disc's manifest as they are: the read-back then
  // proves the disc against the ingestion, not only against the files as they lie now.
  add_ledger_origins(*session, set);
  std::printf("%s\n", set.discs.empty() ? no_images_text() : plan_summary(set).c_str());
  // Progress while a disc is written: rewritten in place on a terminal, a line per tenth when
  // the output goes to a file. The writer reports from its own thread.
  std::mutex progress_mutex;
  ConsoleProgress progress(
      [](const std::string& text) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
      },
      isatty(STDOUT_FILENO) != 0);
  const WriterViewCallback show_progress = [&](const WriterView& view) {
    std::lock_guard<std::mutex> lock(progress_mutex);
    if (view.writing)
      progress.show(view.disc_label, view.progress_percent, view.progress_line);
    else
      progress.end();
  };
  BurnOutcome outcome;
  if (!a.image_dir.empty()) {
    outcome = burn_to_images(set, a.image_dir, show_progress);
  } else {
    outcome = burn_to_recorder(set, a.drive, burn_questions(ui, a.yes), show_progress);
  }
  progress.end();
  if (!outcome.ok && !outcome.message.empty()) std::fprintf(stderr, "%s\n", outcome.message.c_str());
  std::printf("%d of %zu disc(s) written\n", outcome.discs_burned, outcome.discs);
  return outcome.ok ? 0 : 1;
}

const char* plan_options_help() {
  static const std::string text =
      "bytes per disc (default " + std::to_string(static_cast<unsigned long long>(kDiscCapacity)) + ")";
  return text.c_str();
}

}  // namespace

const CommandSpec& disc_command() {
  static const CommandSpec spec{
      "disc",
      "plan folders onto discs and write them to a recorder or image files",
      {"plan ROOT FOLDER... [PLAN OPTIONS] [--json]", "drives",
       "burn ROOT FOLDER... [PLAN OPTIONS] (--drive DEV | --image-dir DIR) [--yes]"},
      "plan shows how the folders (below ROOT) fill discs; drives lists the recorders; burn\n"
      "writes the planned discs to the recorder DEV (asking before each disc unless --yes) or\n"
      "to one image file per disc, DIR/<disc label>.iso. While a disc is written its progress\n"
      "(percent, MB/s, time left) is shown on one line on a terminal, else a line per 10%.",
      {
          {"plan", "ROOT FOLDER...", "how the folders fill discs", "dir"},
          {"drives", "", "the recorders"},
          {"burn", "ROOT FOLDER...", "writes the planned discs", "dir"},
      },
      {
          {"title", "TEXT", "the set's title (default \"Selected Folders\")", false, nullptr, "plan burn"},
          {"key", "N", "the ingestion record that numbers the discs (labels NA_001...)", false,
           nullptr, "plan burn"},
          {"subfolders", nullptr, "take every subfolder of the folders given", false, nullptr,
           "plan burn"},
          {"capacity", "BYTES", plan_options_help(), false, nullptr, "plan burn"},
          {"json", nullptr, "print the plan as JSON", false, nullptr, "plan"},
          {"drive", "DEV", "the recorder to write to ('cardwright disc drives')", false, nullptr,
           "burn"},
          {"image-dir", "DIR", "write one image file per disc into DIR instead", false, "dir", "burn"},
          {"yes", nullptr, "write every disc without asking", false, nullptr, "burn"},
      },
      {{"drive", "image-dir"}},
      nullptr,
      run_disc,
  };
  return spec;
}

}  // namespace cw::app
