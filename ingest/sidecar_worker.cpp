// The thread that prepares first-copy sidecars ahead of the copying.
#include "ingest/sidecar_worker.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <new>
#include <system_error>

#include "ingest/archive_check.h"
#include "ingest/engine_context.h"
#include "ingest/run_metadata.h"
#include "ingest/sidecar_placement.h"
#include "metadata/sidecar.h"

namespace cw {

std::string sidecar_date_text(std::time_t when) {
  struct tm local;
  char text[32];
  if (!localtime_r(&when, &local) || std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local) == 0)
    return "00000000_000000";
  return text;
}

SidecarWorker::SidecarWorker(EngineContext& ctx)
    : template_path_(ctx.sidecar_template),
      settings_path_(ctx.raw_settings_path),
      metadata_(ctx.metadata()),
      images_(ctx.images),
      placement_(ctx.control().placement_lock()) {
  try {
    thread_ = std::thread([this, helpers = ctx.copying_helpers] {
      const ProcessorSplit::Helper helper = helpers.join();
      work();
    });
  } catch (const std::system_error&) {
    // No thread to spare: every sidecar is prepared by the copying, as take() then says.
  }
}

SidecarWorker::~SidecarWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  moved_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::optional<PreparedSidecar> SidecarWorker::take(std::size_t index) {
  std::optional<PreparedSidecar> out;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (index >= images_.size()) return std::nullopt;
    if (preparing_ == index) {
      taking_ = true;
      ready_cv_.wait(lock, [&] { return preparing_ != index; });
      taking_ = false;
    }
    Ready& slot = ready_[index % kAhead];
    if (slot.index == index) out.swap(slot.sidecar);
    // What waits for images before this one is not asked for any more.
    for (Ready& r : ready_)
      if (r.index <= index) r.sidecar.reset();
    asked_ = index + 1;
  }
  return out;
}

void SidecarWorker::folder_checked(const std::string& folder, const std::string& target_folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  checked_folder_ = folder;
  checked_target_folder_ = target_folder;
}

bool SidecarWorker::hand_over(const std::string& folder, const std::string& target,
                              std::string& text, std::unique_ptr<StagedFile>& staged) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!thread_.joinable() || handed_.state != Handed::State::kNone) return false;
    handed_.state = Handed::State::kWaiting;
    handed_.folder = folder;
    handed_.target = target;
    handed_.text = std::move(text);
    handed_.staged = std::move(staged);
  }
  moved_.notify_all();
  return true;
}

std::optional<SidecarPlacement> SidecarWorker::settle(FolderHandles& folders) {
  std::unique_lock<std::mutex> lock(mutex_);
  switch (handed_.state) {
    case Handed::State::kNone: return std::nullopt;
    case Handed::State::kWaiting: {
      // Not begun by the thread: placed here, sooner than the thread would be scheduled.
      handed_.state = Handed::State::kNone;
      const std::string folder = std::move(handed_.folder), target = std::move(handed_.target);
      const std::string text = std::move(handed_.text);
      const std::unique_ptr<StagedFile> staged = std::move(handed_.staged);
      lock.unlock();
      SidecarPlacement outcome = place_sidecar_text(placement_, folder, target, text,
                                                    folders.get(folder), staged.get());
      log_placement(outcome);
      return outcome;
    }
    case Handed::State::kPlacing:
    case Handed::State::kPlaced: break;
  }
  settling_ = true;
  placed_.wait(lock, [&] { return handed_.state == Handed::State::kPlaced; });
  settling_ = false;
  handed_.state = Handed::State::kNone;
  return std::move(handed_.outcome);
}

void SidecarWorker::place(std::unique_lock<std::mutex>& lock) {
  handed_.state = Handed::State::kPlacing;
  lock.unlock();
  // The copying leaves the fields alone until the state says kPlaced.
  SidecarPlacement outcome;
  try {
    outcome = place_sidecar_text(placement_, handed_.folder, handed_.target, handed_.text,
                                 folders_.get(handed_.folder), handed_.staged.get());
  } catch (const std::bad_alloc&) {
    outcome.target = handed_.target;
    outcome.failure = "out of memory";
  }
  handed_.staged.reset();
  // Logged before the copying may go on to its next copy, whose lines follow.
  log_placement(outcome);
  lock.lock();
  handed_.outcome = std::move(outcome);
  handed_.state = Handed::State::kPlaced;
  if (settling_) placed_.notify_all();
}

void SidecarWorker::stage(PreparedSidecar& p, const std::string& folder) {
  // Made through the folder's path, not a descriptor: the file may be dropped on another
  // thread after this one closed its descriptors. A failure is the sidecar's, reported when
  // it is placed, as a failure to write it then would be.
  auto staged = std::make_unique<StagedFile>();
  if (const char* failure = write_staged_sidecar(*staged, folder, p.text)) {
    p.ok = false;
    p.message = failure;
    return;  // the temporary file is removed with `staged`
  }
  p.staged = std::move(staged);
  p.staged_folder = folder;
}

PreparedSidecar SidecarWorker::prepare(const ImageRecord& r) {
  PreparedSidecar p;
  p.source = r.source_path();
  p.source_sidecar = card_sidecars_.find(p.source);
  const bool build = !p.source_sidecar && (!template_path_.empty() || !settings_path_.empty());
  const std::string date_text = build ? sidecar_date_text(r.capture_time()) : std::string();
  auto held = metadata_.hold();
  p.exif = entry_exif(metadata_.environment(), p.source);
  if (build) {
    p.built = true;
    p.ok = sidecar_text(template_path_, settings_path_, r.base_name, date_text, r.number_text,
                        r.source_path(), metadata_.environment(), metadata_.sidecars(), p.text,
                        p.message);
  }
  return p;
}

void SidecarWorker::work() {
  // Woken by the copying (a sidecar handed over, a sidecar taken), the thread waits for a
  // free processor instead of taking the copying's: the copying places a handed-over sidecar
  // itself when the thread has not begun it, and builds one the thread has not begun, so the
  // copying waits for the thread only while it prepares the very image the copying needs,
  // and then it has the processor the waiting copying left. Where the policy cannot be set
  // the thread simply runs as any other.
  const sched_param batch{};
  pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
  std::size_t next = 0;  // the next image to prepare
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    moved_.wait(lock, [&] {
      const std::size_t n = std::max(next, asked_);  // the copying may be past some already
      return quit_ || handed_.state == Handed::State::kWaiting ||
             (n < images_.size() && n < asked_ + kAhead);
    });
    // A sidecar handed over comes first, and is placed even when the thread is to stop.
    if (handed_.state == Handed::State::kWaiting) {
      place(lock);
      continue;
    }
    if (quit_) return;
    next = std::max(next, asked_);
    const std::size_t i = next++;
    preparing_ = i;
    // Written ahead only into the folder the copying checked, for images going there.
    const bool known_folder = !checked_folder_.empty() &&
                              images_[i].target_folder() == checked_target_folder_;
    const std::string folder = known_folder ? checked_folder_ : std::string();
    lock.unlock();
    std::optional<PreparedSidecar> p;
    try {
      p = prepare(images_[i]);
      if (known_folder && p->built && p->ok && !p->text.empty()) stage(*p, folder);
    } catch (const std::bad_alloc&) {
      // Left to the copying, which reports the shortage.
    }
    lock.lock();
    preparing_ = kNone;
    if (p && i >= asked_) ready_[i % kAhead] = Ready{i, std::move(p)};
    if (taking_) ready_cv_.notify_all();
  }
}

}  // namespace cw
