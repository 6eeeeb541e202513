// What an ingestion run needs from whoever runs it: the slot's stop request, status text,
// error flag and image count, the order gate that makes concurrent runs name their images one
// run after another, the shared sequence counter, the auto-eject request and the folder lists
// kept for disc burning.
//
// The card monitor implements it for up to eight slots. SingleSlotControl is the one-slot
// implementation used by the command-line program and the tests.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "ingest/number_range.h"

namespace cw {

// Which disc-burning folder list a folder goes to.
enum class BurnList { kPrimary, kPreConversion };

class SlotControl {
 public:
  virtual ~SlotControl() = default;

  // Each of these takes ingestionLock for its single access.
  virtual bool stop_requested(int slot) = 0;
  virtual void set_status(int slot, const std::string& text) = 0;
  virtual void set_error_flag(int slot) = 0;
  virtual void set_image_count(int slot, int count) = 0;
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
  // copyOrderLock held; the caller releases it after its naming phase.
  virtual bool order_gate(int slot, std::time_t key) = 0;

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

  // After the run, unless it was stopped: renames the number-range folders to their ranges
  // (the end of the batch for the one slot). False when a rename failed.
  bool end_batch(const std::string& first_copy_root, const std::optional<std::string>& primary_root,
                 const std::optional<std::string>& post_backup_root);

  // The front end's side: ask the run to stop, and read what it reported.
  void request_stop();
  std::string status();
  bool error_flag();
  int image_count();
  bool auto_eject_requested();
  std::vector<std::string> burn_folders(BurnList list);

 private:
  bool stop_ = false;
  bool error_ = false;
  bool eject_ = false;
  int image_count_ = 0;
  long next_sequence_;
  std::string status_ = "Ready";
  std::vector<std::string> primary_folders_;
  std::vector<std::string> pre_folders_;
  NumberRangeState ranges_;
};

}  // namespace cw
