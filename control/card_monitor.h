// The ingestion monitor: the table of eight slots every ingestion runs through, one thread per
// running slot, the order gate that lets the slots name their images one after another in the
// order of their first images' times, stop requests, and the end of the run.
//
// Two modes. Single source: slot 0 ingests one folder (a card, a camera, chosen images) and
// the monitor is done when it ends. Cards: up to eight cards fill the slots, the user ticks the
// ones to ingest and starts them; every ticked card runs at the same time with the same
// parameters and ingestion record, and the monitor can be started again.
//
// The monitor has no thread of its own: the front end calls tick() every 500 milliseconds
// (the command line from its wait loop, the desktop program from a timer), and the end of a
// run (control/run_end.h) happens inside tick(), on the front end's thread. snapshot() gives
// everything a window or a terminal shows. The engine's threads reach the monitor only
// through SlotControl: the slot book it is (ingest/slot_control.h), with the book's own lock.
// The table's own state (which slots are filled, ticked, running) is under the monitor's
// lock, which may be held while the book's is taken, never the other way round.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "control/card_detection.h"
#include "control/run_end.h"
#include "ingest/engine_context.h"
#include "ingest/number_range.h"
#include "ingest/slot_control.h"
#include "settings/param_list.h"

namespace cw {

inline constexpr int kMonitorSlots = 8;

// A slot's state: ready, skipped, starting, running, finished.
enum class SlotCode { kReady = 0, kSkipped = 1, kStarting = 2, kRunning = 3, kFinished = 4 };

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};
inline constexpr Rgb kSlotBlack{0, 0, 0};
inline constexpr Rgb kSlotGreen{0, 210, 0};
inline constexpr Rgb kSlotRed{250, 0, 0};
inline constexpr Rgb kSlotOrange{240, 127, 0};
inline constexpr Rgb kSlotGrey{160, 160, 160};

// A card that Refresh puts into a slot.
struct MonitorCard {
  std::string root;         // the mount root (shown where a drive letter would be)
  std::string volume_name;  // at most 99 characters are kept
  std::string device_name;
};

// One slot as a front end shows it.
struct SlotView {
  bool filled = false;
  bool ticked = false;
  bool check_visible = false;
  std::string title;
  std::string status_line;
  Rgb title_colour = kSlotBlack;
  Rgb status_colour = kSlotBlack;
  SlotCode code = SlotCode::kReady;
  bool error = false;
  int image_count = 0;
  SlotProgress progress;
  double phase_seconds = 0;  // time since the slot's current phase began
  std::string volume_name;
  std::string root;
};

struct MonitorView {
  std::string status_line;
  bool running = false;
  bool indicator_visible = false;  // the activity indicator: shown while cards are copied
  bool start_enabled = false, stop_enabled = false, eject_enabled = false;
  bool refresh_enabled = false, close_enabled = false;
  bool single_source = false;
  int card_count = 0;
  std::array<SlotView, kMonitorSlots> slots;
};

// What all slots of a run share.
struct MonitorSetup {
  ParamList params;            // the ingestion parameter list (with fileArray, if any)
  bool cards_mode = false;
  Database* database = nullptr;           // holds the ingestion record (not owned)
  MacroEnvironment* macro_env = nullptr;  // names, folders and sidecars (not owned)
  const CWPreset* master = nullptr;       // viewer and burn switches (not owned)
  const GpsRunSettings* gps = nullptr;    // GPS tagging; none: off (not owned)
  CameraSource* cameras = nullptr;        // camera cards are read on it; none: no camera
  ProgramLauncher launch = launch_detached;
  bool verify_copies = true;  // every copy read back and compared with its source
  bool reverify = false;       // copies of earlier runs read back even when unchanged
  // The volume label and file-system UUID of a slot's card folder, for the ingest ledger;
  // none: not recorded.
  std::function<CardVolume(const std::string& folder)> card_volume;
  // Called on the front end's thread once the slots have started: what can wait for the
  // copies to begin is done meanwhile.
  std::function<void()> started;
};

// How a run ended.
struct MonitorOutcome {
  bool success = false;
  bool stopped_by_user = false;
  long next_number = 1;  // the starting number for the next ingestion
  RunEndResult end;
  std::vector<std::string> eject_requests;  // roots of single-source runs that asked for it
};

// A slot's progress as one line: "Copying 12/200 files, 45.2 MB/s, ETA 0:35" (the phase, files
// done and in all, the rate since the phase began `seconds` ago, the time left at that rate).
// Empty before the first phase.
std::string format_progress(const SlotProgress& progress, double seconds);

class CardMonitor : public SlotBook {
 public:
  explicit CardMonitor(MonitorSetup setup);
  // Asks every running slot to stop and waits for its thread.
  ~CardMonitor() override;
  CardMonitor(const CardMonitor&) = delete;
  CardMonitor& operator=(const CardMonitor&) = delete;

  // Single-source mode: slot 0 ingests `source` (also the card folder) and starts at once.
  void run_single(const std::string& source);
  // Cards mode, the Refresh button: the first eight cards fill the slots, ticked.
  void refresh(const std::vector<MonitorCard>& cards);
  void set_ticked(int slot, bool ticked);
  // The Start button: every ticked slot starts; the others are skipped.
  void start();
  // The Stop button: every slot is asked to stop; tick() waits up to 89 seconds for them.
  void stop();
  // The loop body: the blinking indicator, the stop countdown, and the end of the run once
  // every slot has finished or was skipped.
  void tick();
  // Waits up to `timeout` for a slot's thread to end (a front end's loop wakes sooner).
  void wait_for_slot_end(std::chrono::milliseconds timeout);

  MonitorView snapshot() const;
  // True while a run is going (from a start until its end was handled).
  bool running() const;
  // The outcome of the last run once it has ended.
  const std::optional<MonitorOutcome>& outcome() const { return outcome_; }
  // The slot's last run (its report, counters, folders); null before its first start.
  const EngineContext* context(int slot) const;

  bool cards_mode() override { return setup_.cards_mode; }

 private:
  struct Slot {
    bool filled = false;
    bool ticked = false;
    bool check_visible = false;
    std::string title;
    std::string card_folder;
    std::string root;
    std::string volume_name = "[none]";
    std::string device_name;
    SlotCode code = SlotCode::kReady;
    bool participant = false;  // takes part in the current run
    std::unique_ptr<EngineContext> ctx;
    std::thread thread;
  };

  void reset();
  std::vector<bool> participants() const;  // with mutex_ held
  void start_slot(int index);
  void slot_body(int index);
  bool all_ended() const;  // with mutex_ held
  void finish_run();
  void finish_stop();
  void join_ended_threads();
  SlotView view_of(const Slot& s, const SlotRecord& r) const;

  MonitorSetup setup_;
  mutable std::recursive_mutex mutex_;  // the table's own state below
  std::array<Slot, kMonitorSlots> slots_;
  bool single_source_ = false;
  bool running_ = false;
  bool stopped_by_user_ = false;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point stop_requested_at_;
  int card_count_ = 0;
  std::time_t started_ = 0;
  int log_failures_ = 0;  // the log's write failures when the run started
  std::string status_line_;
  std::optional<MonitorOutcome> outcome_;
  std::condition_variable_any slot_ended_;
};

}  // namespace cw
