// What an ingestion run needs from whoever runs it: the slot's stop request, status text,
// error flag, image count and progress, the order gate that makes concurrent runs name their
// images one run after another, the shared sequence counter, the auto-eject request and the
// folder lists kept for disc burning.
//
// SlotBook keeps these records for any number of slots under its own lock; the card monitor
// (control/) is a book of eight slots, SingleSlotControl one of one slot for single runs and
// the engine's own tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ingest/flush_ahead.h"
#include "ingest/number_range.h"
#include "ingest/order_gate.h"
#include "ingest/processor_split.h"

namespace cw {

class ReadBackScheduler;

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

  virtual bool stop_requested(int slot) = 0;
  virtual void set_status(int slot, const std::string& text) = 0;
  virtual void set_error_flag(int slot) = 0;
  virtual void set_image_count(int slot, int count) = 0;
  // The slot's progress record, changed by `change` under the records' lock.
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
  // The gate the batch's runs pass, one at a time, to name their images.
  virtual OrderGate& order_gate() = 0;
  // The batch's number-range data, shared by all its runs (it has its own lock).
  virtual NumberRangeState& number_ranges() = 0;
  // Held while a run moves a file it made (a copy, a sidecar, an extracted JPEG) to its name:
  // the batch's runs may write into the same folders, and on a file system that cannot refuse
  // to replace a name there is a moment between looking at a name and taking it.
  virtual std::mutex& placement_lock() = 0;
  // The disc-burning lists as they are now, and the rename of one entry (number ranges).
  virtual std::vector<std::string> burn_folders_snapshot(BurnList list) = 0;
  virtual void rename_burn_folder(BurnList list, const std::string& from,
                                  const std::string& to) = 0;
  // The batch's read-backs of its copies, one queue per destination disk for all its runs.
  virtual std::shared_ptr<ReadBackScheduler> read_backs() = 0;
  // Which processors the batch's copying threads and their helpers run on.
  virtual ProcessorSplit& processor_split() = 0;
  // The file systems the batch's runs are flushing ahead (one flush ahead on each at a time).
  virtual FlushAheadGate& flushes_ahead() = 0;
};

// What the engine reported for one slot.
struct SlotRecord {
  std::string status = "Ready";
  bool stop = false;
  bool error = false;
  bool eject = false;
  int image_count = 0;
  SlotProgress progress;
  std::chrono::steady_clock::time_point phase_started;  // when `progress` entered its phase
};

// The records of a batch's slots, the batch's sequence counter, number ranges, disc-burning
// lists and order gate; every record is read and written under the book's own lock, one
// access at a time. Slot indexes outside the book are ignored.
class SlotBook : public SlotControl {
 public:
  SlotBook(int slots, long starting_number);

  bool stop_requested(int slot) override;
  void set_status(int slot, const std::string& text) override;
  void set_error_flag(int slot) override;
  void set_image_count(int slot, int count) override;
  void update_progress(int slot, const std::function<void(SlotProgress&)>& change) override;
  long take_sequence_number() override;
  void add_burn_folder(BurnList list, const std::string& folder) override;
  void request_auto_eject(int slot) override;
  OrderGate& order_gate() override { return gate_; }
  NumberRangeState& number_ranges() override { return ranges_; }
  std::mutex& placement_lock() override { return placing_; }
  std::vector<std::string> burn_folders_snapshot(BurnList list) override;
  void rename_burn_folder(BurnList list, const std::string& from, const std::string& to) override;
  std::shared_ptr<ReadBackScheduler> read_backs() override;
  ProcessorSplit& processor_split() override { return split_; }
  FlushAheadGate& flushes_ahead() override { return flushes_ahead_; }

  // The front end's side.
  SlotRecord record(int slot) const;
  void request_stop(int slot);
  // A new batch: every slot's record as new, the lists and number ranges empty, the gate open
  // to `participants`.
  void begin_batch(const std::vector<bool>& participants);
  long next_sequence() const;

 private:
  mutable std::mutex mutex_;
  std::vector<SlotRecord> records_;
  long next_sequence_;
  std::vector<std::string> primary_folders_;
  std::vector<std::string> pre_folders_;
  NumberRangeState ranges_;
  OrderGate gate_;
  std::mutex placing_;
  ProcessorSplit split_;  // the processors of the thread that made the book
  std::shared_ptr<ReadBackScheduler> read_backs_;  // made with the first copy to read back
  FlushAheadGate flushes_ahead_;
};

// One slot (index 0) and nothing else to wait for.
class SingleSlotControl : public SlotBook {
 public:
  explicit SingleSlotControl(long starting_number = 1);

  bool cards_mode() override { return false; }

  // The front end's side: ask the run to stop, and read what it reported.
  void request_stop() { SlotBook::request_stop(0); }
  std::string status() const { return record(0).status; }
  bool error_flag() const { return record(0).error; }
  int image_count() const { return record(0).image_count; }
  SlotProgress progress() const { return record(0).progress; }
  bool auto_eject_requested() const { return record(0).eject; }
  std::vector<std::string> burn_folders(BurnList list) { return burn_folders_snapshot(list); }
};

}  // namespace cw
