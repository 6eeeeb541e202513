// One ingestion from the Start flow to its hand-offs.
#include "control/ingestion_run.h"

#include <cstdlib>

#include "control/app_session.h"
#include "control/card_detection.h"
#include "control/disc_burning.h"
#include "settings/preferences.h"

namespace cw {

IngestionRun::IngestionRun(AppSession& session, RunHooks hooks)
    : session_(session), hooks_(std::move(hooks)) {}

IngestionRun::~IngestionRun() {
  if (start_.run) save_deferred_choices(*start_.run);
}

const StartOutcome& IngestionRun::prepare(const StartRequest& request) {
  monitor_.reset();
  start_ = prepare_ingestion(session_, request);
  if (!start_.run || request.dry_run) return start_;
  MonitorSetup setup = monitor_setup(session_, *start_.run);
  if (hooks_.launch) setup.launch = hooks_.launch;
  // What the preset keeps for this run alone is written once the copies have begun.
  setup.started = [this] { save_deferred_choices(*start_.run); };
  monitor_ = std::make_unique<CardMonitor>(std::move(setup));
  return start_;
}

const PreparedIngestion* IngestionRun::prepared() const {
  return start_.run ? &*start_.run : nullptr;
}

bool IngestionRun::dry_run() { return start_.run && dry_run_ingestion(session_, *start_.run); }

bool IngestionRun::start(const std::vector<std::string>& unticked) {
  if (!monitor_) return false;
  if (!start_.run->cards_mode) {
    monitor_->run_single(start_.run->source);
    return true;
  }
  const std::unique_ptr<DriveSource> drives = session_.open_drives();
  if (!refresh_with_cards(*monitor_, *drives, unticked)) return false;
  monitor_->start();
  return true;
}

void IngestionRun::wait(std::chrono::milliseconds timeout) {
  if (monitor_) monitor_->wait_for_slot_end(timeout);
}

bool IngestionRun::tick() {
  if (!monitor_) return false;
  if (hooks_.progress) hooks_.progress(monitor_->snapshot());
  monitor_->tick();
  return monitor_->running();
}

void IngestionRun::stop() {
  if (monitor_) monitor_->stop();
}

bool IngestionRun::running() const { return monitor_ && monitor_->running(); }

RunFinish IngestionRun::finish() {
  RunFinish done;
  if (!monitor_) return done;
  PreparedIngestion& run = *start_.run;
  save_deferred_choices(run);
  MonitorOutcome unrun;
  unrun.next_number = std::strtol(starting_number().c_str(), nullptr, 10);
  done.outcome = monitor_->outcome().value_or(unrun);
  const FinishResult finished = finish_ingestion(session_, run, done.outcome);
  done.success = finished.success;
  const std::vector<FolderBurn>& burns = done.outcome.end.burns;
  if (!burns.empty())
    done.burned = hooks_.burn ? hooks_.burn(burns, run.ingestion_key)
                              : burn_after_run(burns, run.ingestion_key,
                                               burn_questions(session_.ui(), false),
                                               session_.database());
  if (finished.eject) {
    if (hooks_.eject)
      hooks_.eject(*finished.eject);
    else
      eject_card_holding(session_, *finished.eject, nullptr);
  }
  return done;
}

bool eject_card_holding(AppSession& session, const std::string& folder, std::FILE* lines) {
  const std::unique_ptr<DriveSource> drives = session.open_drives();
  const std::optional<std::string> root = root_containing(*drives, folder);
  return root && session.eject(*root, lines);
}

}  // namespace cw
