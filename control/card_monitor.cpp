// The slot table, the slot threads, the order gate and the monitor's loop body.
#include "control/card_monitor.h"

#include <algorithm>
#include <mutex>
#include <system_error>

#include "control/card_detection.h"
#include "database/database.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "ingest/ingest.h"

namespace cw {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// Stop gives the threads this many one-second passes before the controls are unlocked.
constexpr int kStopPasses = 89;
constexpr std::size_t kVolumeNameMax = 99;
constexpr std::size_t kStatusLineMax = 100;
constexpr const char* kNoIngestionsStatus = "No ingestions running";

bool ended(SlotCode code) { return code == SlotCode::kSkipped || code == SlotCode::kFinished; }

}  // namespace

std::string format_progress(const SlotProgress& p, double seconds) {
  const char* phase = p.phase == ProgressPhase::kFirstCopies    ? "Copying"
                      : p.phase == ProgressPhase::kSecondCopies ? "Primary copies"
                                                                : nullptr;
  if (p.phase == ProgressPhase::kTagging)
    return format_limited(200, "Tagging %d/%d", p.files_done, p.files_total);
  if (!phase) return {};
  std::string line = format_limited(200, "%s %d/%d files", phase, p.files_done, p.files_total);
  if (seconds < 0.5 || p.bytes_done == 0) return line + ", ETA --:--";
  const double rate = static_cast<double>(p.bytes_done) / seconds;
  const double left = static_cast<double>(p.bytes_total - p.bytes_done) / rate;
  const long eta = static_cast<long>(left + 0.5);
  return line + format_limited(200, ", %.1f MB/s, ETA %ld:%02ld", rate / 1e6, eta / 60, eta % 60);
}

namespace {
long starting_number(const MonitorSetup& setup) {
  return setup.params.count() > kParamStartingNumber ? setup.params.integer(kParamStartingNumber)
                                                     : 1;
}
}  // namespace

CardMonitor::CardMonitor(MonitorSetup setup)
    : SlotBook(kMonitorSlots, starting_number(setup)), setup_(std::move(setup)) {}

CardMonitor::~CardMonitor() {
  for (int i = 0; i < kMonitorSlots; ++i) request_stop(i);
  for (Slot& s : slots_)
    if (s.thread.joinable()) s.thread.join();
}

// ---------------------------------------------------------------- the front end's side

void CardMonitor::reset() {
  Guard g(mutex_);
  stopped_by_user_ = false;
  for (Slot& s : slots_) {
    s.code = SlotCode::kReady;
    s.participant = false;
  }
  begin_batch({});
  outcome_.reset();
}

std::vector<bool> CardMonitor::participants() const {
  std::vector<bool> taking_part;
  for (const Slot& s : slots_) taking_part.push_back(s.participant);
  return taking_part;
}

void CardMonitor::run_single(const std::string& source) {
  reset();
  single_source_ = true;
  {
    Guard g(mutex_);
    Slot& s = slots_[0];
    s.filled = s.ticked = true;
    s.check_visible = false;
    s.title = setup_.params.file_array ? "List rooted at " + source : source;
    s.card_folder = s.root = source;
    for (int i = 1; i < kMonitorSlots; ++i) slots_[i].code = SlotCode::kSkipped;
    s.participant = true;
    running_ = true;
    card_count_ = 1;
    started_ = std::time(nullptr);
    log_failures_ = log_write_failures();
    begin_batch(participants());
  }
  start_slot(0);
  if (setup_.started) setup_.started();
}

void CardMonitor::refresh(const std::vector<MonitorCard>& cards) {
  if (running()) return;
  reset();
  Guard g(mutex_);
  single_source_ = false;
  card_count_ = 0;
  for (Slot& s : slots_) {
    const bool has_card = card_count_ < static_cast<int>(cards.size());
    s.filled = s.ticked = s.check_visible = has_card;
    s.ctx.reset();
    if (!has_card) {
      s.volume_name = "[none]";
      s.title.clear();
      s.card_folder.clear();
      s.root.clear();
      continue;
    }
    const MonitorCard& card = cards[static_cast<std::size_t>(card_count_++)];
    s.volume_name = card.volume_name.substr(0, kVolumeNameMax);
    s.device_name = card.device_name;
    s.root = card.root;
    // A reader that gives no name leaves it out rather than an empty ", )".
    s.title = s.volume_name + " (" + card.root +
              (card.device_name.empty() ? "" : ", " + card.device_name) + ")";
    s.card_folder = card_folder(card.root);
  }
  status_line_ = card_count_ > 0 ? kNoIngestionsStatus : kNoCardsStatus;
}

void CardMonitor::set_ticked(int slot, bool ticked) {
  Guard g(mutex_);
  if (slot < 0 || slot >= kMonitorSlots || running_) return;
  Slot& s = slots_[static_cast<std::size_t>(slot)];
  if (s.check_visible) s.ticked = ticked;
}

void CardMonitor::start() {
  {
    Guard g(mutex_);
    if (single_source_ || running_ || card_count_ == 0) return;
    // A thread that outlived a stop still holds its slot.
    for (const Slot& s : slots_)
      if (s.code == SlotCode::kStarting || s.code == SlotCode::kRunning) return;
  }
  reset();
  {
    Guard g(mutex_);
    running_ = true;
    started_ = std::time(nullptr);
    log_failures_ = log_write_failures();
    for (Slot& s : slots_) {
      s.participant = s.filled && s.ticked && s.check_visible;
      if (!s.participant) s.code = SlotCode::kSkipped;
    }
    begin_batch(participants());
  }
  for (int i = 0; i < kMonitorSlots; ++i)
    if (slots_[static_cast<std::size_t>(i)].participant) start_slot(i);
  if (setup_.started) setup_.started();
}

void CardMonitor::start_slot(int index) {
  Slot& s = slots_[static_cast<std::size_t>(index)];
  if (s.thread.joinable()) s.thread.join();
  {
    Guard g(mutex_);
    s.code = SlotCode::kStarting;
  }
  try {
    s.thread = std::thread(&CardMonitor::slot_body, this, index);
  } catch (const std::system_error&) {
    {
      Guard g(mutex_);
      s.code = SlotCode::kReady;
      s.participant = false;
    }
    order_gate().withdraw(index);  // a slot that never ran holds up nobody
    alert_printf("Unable to create thread.");
    return;
  }
  Guard g(mutex_);
  status_line_ = "Ingestion(s) active";
}

void CardMonitor::slot_body(int index) {
  Slot& s = slots_[static_cast<std::size_t>(index)];
  std::string title, folder;
  {
    Guard g(mutex_);
    s.code = SlotCode::kRunning;
    title = s.title;
    folder = s.card_folder;
  }
  auto ctx = std::make_unique<EngineContext>(EngineJob{this, index, title});
  ctx->macro_env = setup_.macro_env;
  ctx->database = setup_.database;
  ctx->gps = setup_.gps;
  ctx->cameras = setup_.cameras;
  ctx->verify_copies = setup_.verify_copies;
  ctx->reverify = setup_.reverify;
  if (setup_.card_volume) {
    const CardVolume volume = setup_.card_volume(folder);
    ctx->card_label = volume.label;
    ctx->card_uuid = volume.uuid;
    ctx->card_local_times = volume.local_times;
  }
  EngineContext& run = *ctx;
  set_status(index, "Running");
  {
    Guard g(mutex_);
    s.ctx = std::move(ctx);  // the previous run's context goes now
  }
  const bool ok = run_slot(setup_.params, folder, run);
  // A run can fail without a recorded message (its report says why): the slot still failed.
  if (!ok) set_error_flag(index);
  order_gate().withdraw(index);  // a slot that ended before naming no longer holds up the others
  {
    Guard g(mutex_);
    s.code = SlotCode::kFinished;
  }
  slot_ended_.notify_all();
}

void CardMonitor::stop() {
  Guard g(mutex_);
  if (!running_) return;
  stopped_by_user_ = true;
  stopping_ = true;
  stop_requested_at_ = std::chrono::steady_clock::now();
  for (int i = 0; i < kMonitorSlots; ++i) request_stop(i);
}

bool CardMonitor::all_ended() const {
  for (const Slot& s : slots_)
    if (!ended(s.code)) return false;
  return true;
}

void CardMonitor::wait_for_slot_end(std::chrono::milliseconds timeout) {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  slot_ended_.wait_for(lock, timeout, [this] { return !running_ || all_ended(); });
}

void CardMonitor::tick() {
  bool complete = false;
  {
    Guard g(mutex_);
    complete = running_ && all_ended();
  }
  if (complete) finish_run();
  if (!stopping_) return;
  const auto waited = std::chrono::steady_clock::now() - stop_requested_at_;
  const int passes = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(waited).count());
  if (!running() || passes >= kStopPasses) {
    finish_stop();
  } else {
    Guard g(mutex_);
    status_line_ = format_limited(100, "Waiting for threads to terminate (%d)", passes + 1);
  }
}

void CardMonitor::join_ended_threads() {
  for (Slot& s : slots_) {
    bool done;
    {
      Guard g(mutex_);
      done = s.code == SlotCode::kFinished || s.code == SlotCode::kSkipped;
    }
    if (done && s.thread.joinable()) s.thread.join();
  }
}

void CardMonitor::finish_run() {
  join_ended_threads();
  RunEndInput in;
  MonitorOutcome out;
  {
    Guard g(mutex_);
    in.cards_mode = setup_.cards_mode;
    in.stopped_by_user = stopped_by_user_;
    in.started = started_;
    in.log_failures = log_failures_;
    for (int i = 0; i < kMonitorSlots; ++i) {
      const Slot& s = slots_[static_cast<std::size_t>(i)];
      const SlotRecord r = record(i);
      EndedSlot e;
      e.filled = s.filled;
      e.counted = !setup_.cards_mode || (s.ticked && s.check_visible);
      e.error = r.error;
      e.image_count = r.image_count;
      e.ctx = s.ctx.get();
      in.slots.push_back(e);
      if (r.eject) out.eject_requests.push_back(s.card_folder);
    }
  }
  in.control = this;
  in.database = setup_.database;
  in.ingestion_id = setup_.params.count() > kParamIngestionId
                        ? setup_.params.integer(kParamIngestionId)
                        : -1;
  in.master = setup_.master;
  in.launch = setup_.launch;
  out.end = end_run(in);
  Guard g(mutex_);
  out.success = out.end.success;
  out.stopped_by_user = stopped_by_user_;
  out.next_number = next_sequence();
  if (!out.end.status_line.empty()) status_line_ = out.end.status_line;
  outcome_ = std::move(out);
  running_ = false;
  // Cards mode can start again: the codes go back to ready so the end is not repeated.
  if (!single_source_)
    for (Slot& s : slots_) s.code = SlotCode::kReady;
}

void CardMonitor::finish_stop() {
  stopping_ = false;
  // A single source's stop is reported by the Start flow that opened the monitor.
  if (single_source_) return;
  {
    Guard g(mutex_);
    status_line_ = "Stopped by user";
  }
  ui_print("\nStopped by user\n");
  if (setup_.database && setup_.params.count() > kParamIngestionId)
    setup_.database->ingestion_append_result(setup_.params.integer(kParamIngestionId),
                                             "Stopped by user");
  alert_printf(
      "Ingestion was stopped and images may be invalid!\r\rDo not delete images from card "
      "until they have been successfully ingested.");
}

bool CardMonitor::running() const {
  Guard g(mutex_);
  return running_;
}

const EngineContext* CardMonitor::context(int slot) const {
  Guard g(mutex_);
  if (slot < 0 || slot >= kMonitorSlots) return nullptr;
  return slots_[static_cast<std::size_t>(slot)].ctx.get();
}

SlotView CardMonitor::view_of(const Slot& s, const SlotRecord& r) const {
  SlotView v;
  v.filled = s.filled;
  v.ticked = s.ticked;
  v.check_visible = s.check_visible;
  v.title = s.title;
  v.code = s.code;
  v.error = r.error;
  v.image_count = r.image_count;
  v.progress = r.progress;
  v.volume_name = s.volume_name;
  v.root = s.root;
  if (r.progress.phase != ProgressPhase::kNone)
    v.phase_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                    r.phase_started).count();
  if (!s.ticked) {
    v.status_line = "Skipped";
    v.title_colour = v.status_colour = kSlotGrey;
    return v;
  }
  v.status_line = r.status.substr(0, kStatusLineMax);
  v.title_colour = kSlotBlack;
  if (r.error)
    v.status_colour = r.stop ? kSlotOrange : kSlotRed;
  else if (s.code == SlotCode::kFinished || s.code == SlotCode::kReady)
    v.status_colour = kSlotGreen;
  else
    v.status_colour = kSlotBlack;
  return v;
}

MonitorView CardMonitor::snapshot() const {
  Guard g(mutex_);
  MonitorView v;
  v.status_line = status_line_;
  v.running = running_;
  v.single_source = single_source_;
  v.indicator_visible = running_;
  v.card_count = card_count_;
  const bool idle = !running_ && !single_source_;
  v.start_enabled = idle && card_count_ > 0;
  v.eject_enabled = idle && card_count_ > 0;
  v.refresh_enabled = v.close_enabled = idle;
  v.stop_enabled = running_;
  for (std::size_t i = 0; i < slots_.size(); ++i)
    v.slots[i] = view_of(slots_[i], record(static_cast<int>(i)));
  return v;
}

}  // namespace cw
