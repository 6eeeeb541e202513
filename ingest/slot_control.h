// What an ingestion run needs from whoever runs it: the slot's stop request, status text,
// error flag, image count and progress, the order gate that makes concurrent runs name their
// images one run after another, the shared sequence counter, the auto-eject request and the
// folder lists kept for disc burning.
//
// The card monitor (control/) implements it for up to eight slots. SingleSlotControl is the
// one-slot implementation the engine's own tests use.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ingest/number_range.h"

namespace cw {

// Which disc-burning folder list a folder goes to.
enum class BurnList { kPrimary, kPreConversion };

// The copy phases a front end shows progress for: the copies from the card, then (with a
// pre-conversion backup) the second copies into the primary tree with their third copies.
enum class ProgressPhase { kNone, kFirstCopies, kSecondCopies, kTagging };

// How far a slot's current phase is: files and bytes, done and in all. Counted by the engine
// as it copies, never read from status texts.
struct SlotProgress {
  ProgressPhase phase = ProgressPhase::kNone;
  int files_done = 0;
  int files_total = 0;
  std::uint64_t bytes_done = 0;
  std::uint64_t bytes_total = 0;
  std::uint64_t file_bytes = 0;  // bytes counted so far for the file being copied

  // Starts a phase of `files` files holding `bytes` bytes.
  void begin(ProgressPhase p, int files, std::uint64_t bytes);
  // Bytes copied of the current file.
  void add_bytes(std::uint64_t n);
  // One file done; its bytes not yet counted (a duplicate that was not copied) count now.
  void file_done(std::uint64_t file_size);
};

class SlotControl {
 public:
  virtual ~SlotControl() = default;

  // Each of these takes ingestionLock for its single access.
  virtual bool stop_requested(int slot) = 0;
  virtual void set_status(int slot, const std::string& text) = 0;
  virtual void set_error_flag(int slot) = 0;
  virtual void set_image_count(int slot, int count) = 0;
  // The slot's progress record, changed by `change` while ingestionLock is held.
  virtual void update_progress(int slot, const std::function<void(SlotProgress&)>& change) = 0;
  // Returns the next sequence number and advances it by one.
  virtual long take_sequence_number() = 0;
  // Adds a folder to a disc-burning list (each folder once).
  virtual void add_burn_folder(BurnList list, const std::string& folder) = 0;
  // True when the runs were started for mounted cards (several slots at once).
  virtual bool cards_mode() = 0;
  // Asks for the slot's card to be ejected after its copies (acted on only when the user
  // enabled automatic ejection).
  virtual void request_auto_eject(int slot) = 0;

  // Order gate: true when this slot may name its images now. A grant returns with
  // copyOrderLock held; the caller gives it back with release_order_gate after its naming.
  virtual bool order_gate(int slot, std::time_t key) = 0;
  // The end of the slot's naming: copyOrderLock is released and the slots waiting at the
  // gate look again.
  virtual void release_order_gate(int slot);
  // Waits until the gate may have opened for `slot` since it was last refused, at most
  // `timeout` (a run that was not granted the gate asks again after it).
  virtual void wait_for_gate(int slot, std::chrono::milliseconds timeout);

  // The batch's number-range data, shared by all its runs (guarded by ingestionLock).
  virtual NumberRangeState& number_ranges() = 0;
  // The disc-burning lists as they are now, and the rename of one entry (number ranges).
  virtual std::vector<std::string> burn_folders_snapshot(BurnList list) = 0;
  virtual void rename_burn_folder(BurnList list, const std::string& from,
                                  const std::string& to) = 0;
};

// One slot (index 0) and nothing else to wait for.
class SingleSlotControl : public SlotControl {
 public:
  explicit SingleSlotControl(long starting_number = 1) : next_sequence_(starting_number) {}

  bool stop_requested(int slot) override;
  void set_status(int slot, const std::string& text) override;
  void set_error_flag(int slot) override;
  void set_image_count(int slot, int count) override;
  void update_progress(int slot, const std::function<void(SlotProgress&)>& change) override;
  long take_sequence_number() override;
  void add_burn_folder(BurnList list, const std::string& folder) override;
  bool cards_mode() override { return false; }
  void request_auto_eject(int slot) override;
  bool order_gate(int slot, std::time_t key) override;
  NumberRangeState& number_ranges() override { return ranges_; }
  std::vector<std::string> burn_folders_snapshot(BurnList list) override {
    return burn_folders(list);
  }
  void rename_burn_folder(BurnList list, const std::string& from, const std::string& to) override;

  // The front end's side: ask the run to stop, and read what it reported.
  void request_stop();
  std::string status();
  bool error_flag();
  int image_count();
  SlotProgress progress();
  bool auto_eject_requested();
  std::vector<std::string> burn_folders(BurnList list);

 private:
  bool stop_ = false;
  bool error_ = false;
  bool eject_ = false;
  int image_count_ = 0;
  SlotProgress progress_;
  long next_sequence_;
  std::string status_ = "Ready";
  std::vector<std::string> primary_folders_;
  std::vector<std::string> pre_folders_;
  NumberRangeState ranges_;
};

}  // namespace cw
