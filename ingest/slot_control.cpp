// The one-slot run control: every field guarded by ingestionLock, the gate granted at once.
#include "ingest/slot_control.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include "foundation/locks.h"

namespace cw {

namespace {
using Guard = std::lock_guard<std::recursive_mutex>;
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

void SlotControl::release_order_gate(int) { copyOrderLock.unlock(); }

void SlotControl::wait_for_gate(int, std::chrono::milliseconds timeout) {
  std::this_thread::sleep_for(timeout);
}

bool SingleSlotControl::stop_requested(int slot) {
  Guard g(ingestionLock);
  return slot == 0 && stop_;
}

void SingleSlotControl::set_status(int slot, const std::string& text) {
  Guard g(ingestionLock);
  if (slot == 0) status_ = text;
}

void SingleSlotControl::set_error_flag(int slot) {
  Guard g(ingestionLock);
  if (slot == 0) error_ = true;
}

void SingleSlotControl::set_image_count(int slot, int count) {
  Guard g(ingestionLock);
  if (slot == 0) image_count_ = count;
}

void SingleSlotControl::update_progress(int slot,
                                        const std::function<void(SlotProgress&)>& change) {
  Guard g(ingestionLock);
  if (slot == 0) change(progress_);
}

SlotProgress SingleSlotControl::progress() {
  Guard g(ingestionLock);
  return progress_;
}

long SingleSlotControl::take_sequence_number() {
  Guard g(ingestionLock);
  return next_sequence_++;
}

void SingleSlotControl::add_burn_folder(BurnList list, const std::string& folder) {
  Guard g(ingestionLock);
  auto& v = list == BurnList::kPrimary ? primary_folders_ : pre_folders_;
  if (std::find(v.begin(), v.end(), folder) == v.end()) v.push_back(folder);
}

void SingleSlotControl::request_auto_eject(int slot) {
  Guard g(ingestionLock);
  if (slot == 0) eject_ = true;
}

bool SingleSlotControl::order_gate(int, std::time_t) {
  // The only participant: the gate opens at once, and stays held through naming.
  copyOrderLock.lock();
  return true;
}

void SingleSlotControl::rename_burn_folder(BurnList list, const std::string& from,
                                           const std::string& to) {
  Guard g(ingestionLock);
  auto& v = list == BurnList::kPrimary ? primary_folders_ : pre_folders_;
  for (std::string& entry : v)
    if (entry == from) entry = to;
}

void SingleSlotControl::request_stop() {
  Guard g(ingestionLock);
  stop_ = true;
}

std::string SingleSlotControl::status() {
  Guard g(ingestionLock);
  return status_;
}

bool SingleSlotControl::error_flag() {
  Guard g(ingestionLock);
  return error_;
}

int SingleSlotControl::image_count() {
  Guard g(ingestionLock);
  return image_count_;
}

bool SingleSlotControl::auto_eject_requested() {
  Guard g(ingestionLock);
  return eject_;
}

std::vector<std::string> SingleSlotControl::burn_folders(BurnList list) {
  Guard g(ingestionLock);
  return list == BurnList::kPrimary ? primary_folders_ : pre_folders_;
}

}  // namespace cw
