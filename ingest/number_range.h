// Number ranges: folders named after the range of image numbers they hold.
//
// While a batch is being ingested, the macro {@numberrange} yields a placeholder such as
// "#NNN-RRR#" that is exactly as long as the range it stands for. Each partition of images
// goes into a folder whose name, during the batch, is the placeholder's first half, "-" and
// the partition index ("#NNN-0003"). The folders are recorded here with the lowest and
// highest image number they received; after the batch each is renamed in place to its real
// range ("0420-0511"). The state is shared by every run of a batch; it carries its own lock,
// which every operation here takes.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cw {

class SlotControl;

struct RangeFolder {
  std::string path;  // up to and including the placeholder
  long lowest = 0;
  long highest = 0;
};

struct NumberRangeState {
  mutable std::recursive_mutex mutex;  // guards every field
  long images_named = 0;        // folder paths made in this batch, all runs together
  std::string placeholder;      // what {@numberrange} yields while naming
  std::string zero_text;
  std::string single_format;    // printf format of one number
  std::string range_format;     // printf format of "lowest-highest"
  int placeholder_length = -1;  // -1 until the first run of the batch chooses
  long modulus = 10000;
  std::vector<RangeFolder> folders;  // newest first
  long lowest = -1, highest = -1;    // of the whole batch
  std::string viewer_folder;         // the folder the viewer opens after the batch
};

// Chooses the placeholder data for 4, 5 or 6 digits (other values give 4) when no run of the
// batch has chosen yet.
void number_range_choose(NumberRangeState& state, int digits);

// Records image number `number_text` (0 when empty) in the range folder `path`.
void number_range_add(NumberRangeState& state, const std::string& path,
                      const std::string& number_text);
// The range folder of this path, or null. The pointer is valid until the list changes.
const RangeFolder* number_range_find(NumberRangeState& state, const std::string& path);
// Forgets every range folder and the batch's lowest and highest.
void number_range_reset(NumberRangeState& state);
// A new batch: the range folders forgotten, nothing chosen or named yet, no viewer folder.
void number_range_begin_batch(NumberRangeState& state);
// Counts one more folder path made in this batch; returns the count.
long number_range_count_path(NumberRangeState& state);

// The name a range folder will get after the batch ("RANGE", or the first free of "RANGEa" …
// "RANGEz"), without renaming anything: what a dry run shows.
std::string number_range_final_path(const NumberRangeState& state, const RangeFolder& folder);

// Stores the batch's lowest and highest number with the ingestion; false on failure.
using StoreNumberRange = std::function<bool(long lowest, long highest)>;

// After the batch: renames each range folder (in the first-copy tree and its counterparts in
// the primary and post-conversion backup trees) to its range, taking the first free name of
// "RANGE", "RANGEa" … "RANGEz"; keeps the disc-burning lists and the viewer folder in step;
// shows "Number range: L through H" and stores the two numbers. `renamed` (when given)
// receives each folder renamed, its old and its new path. False when a rename or the store
// failed.
using FolderRenames = std::vector<std::pair<std::string, std::string>>;
bool number_range_rename(NumberRangeState& state, SlotControl& control,
                         const std::string& first_copy_root,
                         const std::optional<std::string>& primary_root,
                         const std::optional<std::string>& post_backup_root,
                         const StoreNumberRange& store, FolderRenames* renamed = nullptr);

}  // namespace cw
