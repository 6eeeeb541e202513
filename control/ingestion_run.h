// IngestionRun: one ingestion as `cardwright ingest` and the main window's Start both run it,
// from the Start flow to the hand-offs that follow the run. The sequence is
//
//   prepare()  the Start flow: settings checks, the ingestion record, the card and backup
//              questions (asked through the session's user interface), the monitor made ready;
//   start()    the single source starts at once, or the mounted cards fill the slots and the
//              ticked ones start (a window may drive the monitor's buttons itself instead);
//   tick()     one step of the loop the front end runs until running() is false: what the
//              monitor shows goes to the progress hook, then the monitor takes its step (the
//              end of the run, with its reports, happens inside the step);
//   finish()   the outcome in the record and the next starting number, the discs the master
//              preset asks for (burn hook), the card ejected when "AutoEject" is on (eject
//              hook).
//
// The front ends only render: a terminal turns the progress into lines and signals into
// stop(), a window shows the monitor in a dialog and burns in its own dialogs.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/card_monitor.h"
#include "control/start_flow.h"

namespace cw {

class AppSession;

// What a run hands to its front end. A hook left empty does what a front end without windows
// does.
struct RunHooks {
  // After each tick's look at the monitor, before the monitor's own step: what it shows now.
  std::function<void(const MonitorView&)> progress;
  // Writes the discs the run asked for under the ingestion record `record_key`; true when
  // every set was written. None: burn_after_run, asking before each disc.
  std::function<bool(const std::vector<FolderBurn>& burns, int record_key)> burn;
  // Ejects the card that holds `folder` ("AutoEject" after a successful run). None: the
  // session ejects the mounted card holding it, its diagnostic lines in the log only.
  std::function<void(const std::string& folder)> eject;
  // Starts the viewer on the last folder. None: a detached program.
  ProgramLauncher launch;
};

// How a run ended, once finish() has handed it off.
struct RunFinish {
  bool success = false;  // the run succeeded
  bool burned = true;    // every disc asked for was written (true when none was)
  MonitorOutcome outcome;
};

class IngestionRun {
 public:
  IngestionRun(AppSession& session, RunHooks hooks = {});
  ~IngestionRun();
  IngestionRun(const IngestionRun&) = delete;
  IngestionRun& operator=(const IngestionRun&) = delete;

  // The Start flow for `request`. Unless it stopped (or the request is a dry run), the monitor
  // is ready for the prepared run.
  const StartOutcome& prepare(const StartRequest& request);
  // The prepared run; null before a successful prepare().
  const PreparedIngestion* prepared() const;
  // Runs a prepared dry run: where every image would go, in the text pane.
  bool dry_run();

  // Starts the prepared run. Cards mode: the mounted cards fill the slots, those whose roots
  // are in `unticked` left unticked, and the ticked ones start; false when the drives cannot be
  // listed (the message was shown), and nothing runs.
  bool start(const std::vector<std::string>& unticked = {});
  // Waits up to `timeout` for a slot to end; a front end's loop wakes sooner that way.
  void wait(std::chrono::milliseconds timeout);
  // One step of the run (see above); true while the run goes on.
  bool tick();
  // The Stop button: every slot is asked to stop.
  void stop();
  bool running() const;
  // The hand-offs after the run (see above). A monitor closed without a run leaves the
  // starting number as it was.
  RunFinish finish();

  // The hooks, which a front end may change between steps (its progress display, say).
  RunHooks& hooks() { return hooks_; }

  // The monitor of the prepared run, for a window that shows it and presses its buttons, and
  // for the slots' reports and counters once it has ended.
  CardMonitor& monitor() { return *monitor_; }
  const CardMonitor& monitor() const { return *monitor_; }

 private:
  AppSession& session_;
  RunHooks hooks_;
  StartOutcome start_;
  std::unique_ptr<CardMonitor> monitor_;
};

// The eject that follows a run: the mounted card holding `folder`, ejected through the
// session with its diagnostic lines on `lines` (null: the log only). False when no mounted
// card holds it or the eject was not handled.
bool eject_card_holding(AppSession& session, const std::string& folder, std::FILE* lines);

}  // namespace cw
