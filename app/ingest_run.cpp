// One command-line ingestion: a worker thread runs the engine while this thread shows its
// status and passes Ctrl-C on as a stop request.
#include "app/ingest_run.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/console_ui.h"
#include "database/database.h"
#include "foundation/log.h"
#include "imagefile/macro_reader.h"
#include "ingest/ingest.h"
#include "metadata/macro_exif.h"
#include "metadata/macro_settings_env.h"
#include "platform/paths.h"

namespace cw::app {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void on_interrupt(int) { interrupted.store(true); }

// The worker's end, signalled so that the watcher wakes at once rather than at its next poll.
struct RunEnd {
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  void signal() {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    changed.notify_all();
  }
  // Waits up to `interval`; true when the run has ended.
  bool wait(std::chrono::milliseconds interval) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, interval, [this] { return done; });
  }
};

// Shows the slot's status on the terminal until the run ends; turns Ctrl-C into a stop.
void watch(SingleSlotControl& control, RunEnd& end) {
  const bool tty = isatty(STDERR_FILENO);
  std::string shown;
  do {
    if (interrupted.exchange(false)) control.request_stop();
    std::string status = control.status();
    if (tty && status != shown) {
      std::fprintf(stderr, "\r\033[K%.*s", 100, status.c_str());
      std::fflush(stderr);
      shown = status;
    }
  } while (!end.wait(std::chrono::milliseconds(100)));
  if (tty && !shown.empty()) std::fprintf(stderr, "\r\033[K");
}

std::string json_string(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void print_json(const EngineContext& c, bool ok) {
  int unverified =
      c.files_found - c.raws_corrupt - c.jpegs_verified - c.jpegs_corrupt - c.raws_converted;
  std::printf(
      "{\"success\": %s, \"error\": %s, \"files_found\": %d, \"first_copies\": %d, "
      "\"skipped_by_extension\": %d, \"duplicates\": %d, \"raws_converted\": %d, "
      "\"copied_without_conversion\": %d, \"jpegs_extracted\": %d, \"raws_verified\": %d, "
      "\"raws_corrupt\": %d, \"jpegs_verified\": %d, \"jpegs_corrupt\": %d, "
      "\"unverified\": %d, \"destination_folder\": %s}\n",
      ok ? "true" : "false", json_string(c.error).c_str(), c.files_found, c.first_copies,
      c.skipped_by_extension, c.duplicates, c.verify_only ? 0 : c.raws_converted,
      c.copied_without_conversion, c.jpegs_extracted, c.raws_converted, c.raws_corrupt,
      c.jpegs_verified, c.jpegs_corrupt, unverified,
      c.destination_folder ? json_string(*c.destination_folder).c_str() : "null");
}

std::string slot_title(const ParamList& params, const std::string& scan_root) {
  return params.file_array ? "List rooted at " + scan_root : scan_root;
}

void fill_outcome(RunOutcome& out, bool ok, SingleSlotControl& control,
                  const EngineContext& ctx) {
  out.ok = ok;
  out.stopped = control.stop_requested(0);
  out.image_count = control.image_count();
  // The range of the numbers the copied images were given.
  for (const ImageRecord& r : ctx.images) {
    if (r.first_copy_path.empty() || r.number_text.empty()) continue;
    int n = std::atoi(r.number_text.c_str());
    if (out.number_start < 0 || n < out.number_start) out.number_start = n;
    if (n > out.number_stop) out.number_stop = n;
  }
  out.next_number = control.take_sequence_number();
}

}  // namespace

bool read_path_list(const std::string& file, std::vector<std::string>& paths) {
  std::ifstream in(file);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(line);
  }
  return true;
}

int run_ingestion(const ParamList& params, const std::string& scan_root,
                  const RunOptions& options, RunOutcome* outcome) {
  ConsoleUserInterface ui(options.assume_yes);
  set_user_interface(&ui);
  log_set_path(ensure_user_folder() + "/cw_log.txt");
  // The first Ctrl-C asks the run to stop cleanly; a second one ends the program at once.
  struct sigaction stop_action {};
  stop_action.sa_handler = on_interrupt;
  stop_action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &stop_action, nullptr);

  // Macros read the user's presets, vocabulary and (when there is one) database.
  connect_image_macro_reader();
  std::unique_ptr<SettingsMacroEnvironment> env =
      options.settings ? std::make_unique<SettingsMacroEnvironment>(*options.settings)
                       : load_user_macro_environment();
  env->notes = options.notes;
  // The ingestion set-up has the database open already; a bare parameter list (copycard) opens
  // it here when the user has one.
  Database db;
  Database* const given_db = db_current();
  const std::string db_path = ensure_user_folder() + "/" + kDatabaseFileName;
  if (!given_db && ::access(db_path.c_str(), F_OK) == 0 && db.open(db_path)) db_set_current(&db);

  SingleSlotControl control(params.integer(kParamStartingNumber));
  EngineContext ctx(EngineJob{&control, 0, slot_title(params, scan_root)});
  RunEnd end;
  ctx.macro_env = env.get();
  // The report is what an ingestion shows; the per-image EXIF listing is for the examination
  // tools. With --json, standard output must hold the JSON alone, so anything else the engine
  // writes there goes to standard error meanwhile.
  set_exif_listing(nullptr);
  int saved_stdout = -1;
  if (options.json) {
    std::fflush(stdout);
    saved_stdout = dup(STDOUT_FILENO);
    if (saved_stdout >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
  }
  bool ok = false;
  std::thread worker([&] {
    ok = run_slot(params, scan_root, ctx);
    end.signal();
  });
  watch(control, end);
  worker.join();
  std::signal(SIGINT, SIG_DFL);
  if (!options.json) ui_print(ctx.report);
  // The end of the batch: number-range folders get their ranges as names. The destination
  // folder is one of the primary burn folders, which the renames keep in step, so its new
  // name is the entry at the same place.
  const std::vector<std::string> primary_before = control.burn_folders(BurnList::kPrimary);
  if (!control.end_batch(ctx.first_copy_root, ctx.primary_root, ctx.post_backup_root)) ok = false;
  if (ctx.destination_folder) {
    const std::vector<std::string> primary_after = control.burn_folders(BurnList::kPrimary);
    for (std::size_t i = 0; i < primary_before.size() && i < primary_after.size(); ++i)
      if (primary_before[i] == *ctx.destination_folder) {
        ctx.destination_folder = primary_after[i];
        break;
      }
  }
  if (saved_stdout >= 0) {
    std::fflush(stdout);
    dup2(saved_stdout, STDOUT_FILENO);
    close(saved_stdout);
  }

  if (options.json) {
    log_printf("%s", ctx.report.c_str());
    print_json(ctx, ok);
  }
  db_set_current(given_db);
  std::fflush(stdout);
  set_user_interface(nullptr);
  if (outcome) fill_outcome(*outcome, ok, control, ctx);
  return ok ? 0 : 1;
}

}  // namespace cw::app
