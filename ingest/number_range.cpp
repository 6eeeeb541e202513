// Number-range folders: choosing the placeholder, recording numbers, renaming after a batch.
#include "ingest/number_range.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "ingest/scan.h"
#include "ingest/slot_control.h"

namespace cw {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

struct DigitsRow {
  int digits;
  const char* placeholder;
  const char* zero_text;
  const char* single_format;
  const char* range_format;
  long modulus;
};

// Each placeholder is as long as the range that replaces it.
constexpr DigitsRow kDigitsRows[] = {
    {4, "#NNN-RRR#", "0000-0000", "%04d", "%04d-%04d", 10000},
    {5, "#NNNN-RRRR#", "00000-00000", "%05d", "%05d-%05d", 100000},
    {6, "#NNNNN-RRRRR#", "000000-000000", "%06d", "%06d-%06d", 1000000},
};

void widen(long& lowest, long& highest, long n) {
  if (lowest < 0 || n < lowest) lowest = n;
  if (highest < 0 || n > highest) highest = n;
}

// The first free name of `base`, `base`a … `base`z; the z name when all are taken (false).
bool free_name(const std::string& base, std::string& name) {
  name = base;
  if (!path_exists(name)) return true;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    name = base + letter;
    if (!path_exists(name)) return true;
  }
  return false;
}

// The path of a range folder with its placeholder replaced by its range.
std::string range_base(const NumberRangeState& s, const RangeFolder& f) {
  const std::string range =
      format_limited(64, s.range_format.c_str(), static_cast<int>(f.lowest % s.modulus),
                     static_cast<int>(f.highest % s.modulus));
  return f.path.substr(0, f.path.size() - static_cast<std::size_t>(s.placeholder_length)) + range;
}

// Renames one folder to `base` or the first free lettered form of it; the name used is
// returned in `renamed`.
bool rename_to_range(const std::string& from, const std::string& base, std::string& renamed) {
  int err = 0;
  if (!free_name(base, renamed))
    err = EEXIST;
  else if (rename_path(from, renamed) != 0)
    err = errno;
  if (err == 0) return true;
  log_printf("ERROR: failed to rename \"%s\" to \"%s\" (%s)", from.c_str(), renamed.c_str(),
             std::strerror(err));
  return false;
}

std::string root_prefix(const std::string& root) {
  if (!root.empty() && is_separator(root.back())) return root;
  return root + "/";
}

// Burn-list entries at or below `from` follow the rename.
void rename_burn_entries(SlotControl& control, BurnList list, const std::string& from,
                         const std::string& to) {
  for (const std::string& entry : control.burn_folders_snapshot(list)) {
    if (entry == from)
      control.rename_burn_folder(list, entry, to);
    else if (entry.size() > from.size() && entry.compare(0, from.size(), from) == 0 &&
             is_separator(entry[from.size()]))
      control.rename_burn_folder(list, entry, to + entry.substr(from.size()));
  }
}

}  // namespace

void number_range_choose(NumberRangeState& s, int digits) {
  Guard g(s.mutex);
  if (s.placeholder_length != -1) return;
  const DigitsRow* row = &kDigitsRows[0];
  for (const DigitsRow& r : kDigitsRows)
    if (r.digits == digits) row = &r;
  s.placeholder = row->placeholder;
  s.zero_text = row->zero_text;
  s.single_format = row->single_format;
  s.range_format = row->range_format;
  s.modulus = row->modulus;
  s.placeholder_length = static_cast<int>(s.placeholder.size());
}

void number_range_add(NumberRangeState& s, const std::string& path,
                      const std::string& number_text) {
  Guard g(s.mutex);
  const long n = number_text.empty() ? 0 : std::atol(number_text.c_str());
  RangeFolder* entry = nullptr;
  for (RangeFolder& f : s.folders)
    if (f.path == path) entry = &f;
  if (entry) {
    widen(entry->lowest, entry->highest, n);
  } else {
    s.folders.insert(s.folders.begin(), RangeFolder{path, n, n});
  }
  widen(s.lowest, s.highest, n);
}

const RangeFolder* number_range_find(NumberRangeState& s, const std::string& path) {
  Guard g(s.mutex);
  for (const RangeFolder& f : s.folders)
    if (f.path == path) return &f;
  return nullptr;
}

void number_range_reset(NumberRangeState& s) {
  Guard g(s.mutex);
  s.folders.clear();
  s.lowest = s.highest = -1;
}

void number_range_begin_batch(NumberRangeState& s) {
  Guard g(s.mutex);
  number_range_reset(s);
  s.viewer_folder.clear();
  s.images_named = 0;
  s.placeholder_length = -1;
}

long number_range_count_path(NumberRangeState& s) {
  Guard g(s.mutex);
  return ++s.images_named;
}

std::string number_range_final_path(const NumberRangeState& s, const RangeFolder& f) {
  if (s.placeholder_length < 0 || f.path.size() < static_cast<std::size_t>(s.placeholder_length))
    return f.path;
  std::string name;
  free_name(range_base(s, f), name);
  return name;
}

bool number_range_rename(NumberRangeState& s, SlotControl& control,
                         const std::string& first_copy_root,
                         const std::optional<std::string>& primary_root,
                         const std::optional<std::string>& post_backup_root,
                         const StoreNumberRange& store, FolderRenames* renamed_folders) {
  std::unique_lock<std::recursive_mutex> g(s.mutex);
  bool ok = true;
  const std::string prefix = root_prefix(first_copy_root);
  const std::size_t keep_length = static_cast<std::size_t>(s.placeholder_length);
  for (const RangeFolder& f : s.folders) {
    if (s.placeholder_length < 0 || f.path.size() < keep_length) continue;
    const std::string base = range_base(s, f);
    std::string renamed;
    if (!rename_to_range(f.path, base, renamed)) {
      ok = false;
      continue;
    }
    if (renamed_folders) renamed_folders->emplace_back(f.path, renamed);
    if (!primary_root) {
      // The first copies are the primary copies.
      rename_burn_entries(control, BurnList::kPrimary, f.path, renamed);
      if (path_less_nocase(s.viewer_folder, renamed)) s.viewer_folder = renamed;
    } else {
      rename_burn_entries(control, BurnList::kPreConversion, f.path, renamed);
    }
    // The same folder in the other trees.
    if (f.path.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string relative_old = f.path.substr(prefix.size());
    const std::string relative_base = base.substr(prefix.size());
    for (int tree = 0; tree < 2; ++tree) {
      const std::optional<std::string>& root = tree == 0 ? primary_root : post_backup_root;
      if (!root) continue;
      const std::string other = root_prefix(*root) + relative_old;
      if (!path_exists(other)) continue;
      std::string other_renamed;
      if (!rename_to_range(other, root_prefix(*root) + relative_base, other_renamed)) {
        ok = false;
        continue;
      }
      if (renamed_folders) renamed_folders->emplace_back(other, other_renamed);
      if (tree == 0) rename_burn_entries(control, BurnList::kPrimary, other, other_renamed);
    }
  }
  const long lowest = s.lowest, highest = s.highest;
  // The range is stored after the ranges' lock is released: the engine takes the ranges' lock
  // before the database's, never the other way round.
  g.unlock();
  ui_printf("\nNumber range: %d through %d\n", static_cast<int>(lowest), static_cast<int>(highest));
  if (store && !store(lowest, highest)) {
    log_printf("ERROR: can't store the number range %ld through %ld", lowest, highest);
    ok = false;
  }
  return ok;
}

}  // namespace cw
