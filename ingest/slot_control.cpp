// The slots' records, kept by one book under its own lock.
#include "ingest/slot_control.h"

#include <algorithm>

#include "ingest/read_back_scheduler.h"

namespace cw {

namespace {
using Guard = std::lock_guard<std::mutex>;
}

void SlotProgress::begin(ProgressPhase p, int files, std::uint64_t bytes) {
  *this = SlotProgress{};
  phase = p;
  files_total = files;
  bytes_total = bytes;
}

void SlotProgress::add_bytes(std::uint64_t n) {
  // Sidecars copied beside the images are not in the total: the count stops at it.
  bytes_done = std::min(bytes_total, bytes_done + n);
  file_bytes += n;
}

void SlotProgress::file_done(std::uint64_t file_size) {
  ++files_done;
  if (file_size > file_bytes) bytes_done = std::min(bytes_total, bytes_done + file_size - file_bytes);
  file_bytes = 0;
}

SlotBook::SlotBook(int slots, long starting_number)
    : records_(static_cast<std::size_t>(slots)), next_sequence_(starting_number), gate_(slots) {}

namespace {
// The record of an index the engine gives; null outside the book (the caller then ignores it).
template <typename Records>
auto* record_at(Records& records, int slot) {
  return slot >= 0 && static_cast<std::size_t>(slot) < records.size()
             ? &records[static_cast<std::size_t>(slot)]
             : nullptr;
}
}  // namespace

bool SlotBook::stop_requested(int slot) {
  Guard g(mutex_);
  const SlotRecord* r = record_at(records_, slot);
  return r && r->stop;
}

void SlotBook::set_status(int slot, const std::string& text) {
  Guard g(mutex_);
  if (SlotRecord* r = record_at(records_, slot)) r->status = text;
}

void SlotBook::set_error_flag(int slot) {
  Guard g(mutex_);
  if (SlotRecord* r = record_at(records_, slot)) r->error = true;
}

void SlotBook::set_image_count(int slot, int count) {
  Guard g(mutex_);
  if (SlotRecord* r = record_at(records_, slot)) r->image_count = count;
}

void SlotBook::update_progress(int slot, const std::function<void(SlotProgress&)>& change) {
  Guard g(mutex_);
  SlotRecord* r = record_at(records_, slot);
  if (!r) return;
  const ProgressPhase before = r->progress.phase;
  change(r->progress);
  if (r->progress.phase != before) r->phase_started = std::chrono::steady_clock::now();
}

long SlotBook::take_sequence_number() {
  Guard g(mutex_);
  return next_sequence_++;
}

long SlotBook::next_sequence() const {
  Guard g(mutex_);
  return next_sequence_;
}

void SlotBook::add_burn_folder(BurnList list, const std::string& folder) {
  Guard g(mutex_);
  auto& v = list == BurnList::kPrimary ? primary_folders_ : pre_folders_;
  if (std::find(v.begin(), v.end(), folder) == v.end()) v.push_back(folder);
}

void SlotBook::request_auto_eject(int slot) {
  Guard g(mutex_);
  if (SlotRecord* r = record_at(records_, slot)) r->eject = true;
}

std::vector<std::string> SlotBook::burn_folders_snapshot(BurnList list) {
  Guard g(mutex_);
  return list == BurnList::kPrimary ? primary_folders_ : pre_folders_;
}

void SlotBook::rename_burn_folder(BurnList list, const std::string& from, const std::string& to) {
  Guard g(mutex_);
  auto& v = list == BurnList::kPrimary ? primary_folders_ : pre_folders_;
  for (std::string& entry : v)
    if (entry == from) entry = to;
}

SlotRecord SlotBook::record(int slot) const {
  Guard g(mutex_);
  const SlotRecord* r = record_at(records_, slot);
  return r ? *r : SlotRecord{};
}

void SlotBook::request_stop(int slot) {
  Guard g(mutex_);
  if (SlotRecord* r = record_at(records_, slot)) r->stop = true;
}

void SlotBook::begin_batch(const std::vector<bool>& participants) {
  {
    Guard g(mutex_);
    for (SlotRecord& r : records_) r = SlotRecord{};
    primary_folders_.clear();
    pre_folders_.clear();
  }
  number_range_begin_batch(ranges_);
  gate_.begin_batch(participants);
}

// The only slot is no participant of an ordered batch: the gate opens whenever it is free.
std::shared_ptr<ReadBackScheduler> SlotBook::read_backs() {
  Guard g(mutex_);
  // Its readers run on all the batch's processors, whichever copying thread makes them.
  if (!read_backs_) {
    ReadBackScheduler::Settings settings;
    settings.processors = split_.processors();
    read_backs_ = std::make_shared<ReadBackScheduler>(std::move(settings));
  }
  return read_backs_;
}

SingleSlotControl::SingleSlotControl(long starting_number) : SlotBook(1, starting_number) {}

}  // namespace cw
