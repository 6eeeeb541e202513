// One image of an ingestion run: where it comes from on the card, what it is called and where
// it goes. Filled by the scan, completed by naming and the first copy.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace cw {

class FolderTable;

struct ImageRecord {
  std::string base_name;           // source file name without its extension
  // Without the dot; none when the name has none (folder table: a card holds few of them).
  const std::string* extension_text = nullptr;
  const std::string* folder = nullptr;  // relative folder below the scan root (folder table)
  // Where the file lies on the card: its folder's path up to and with its last "/", and its
  // name only when that is not base_name and extension joined by a dot (a linked file's real
  // name, a name ending in a dot); both texts in the run's folder table. source_path()
  // joins them, so a card of many files keeps no full path of each.
  const std::string* source_folder = nullptr;
  const std::string* source_name = nullptr;
  // The first copy once it is made (or found): as the source, its folder's path and its name
  // when that is not new_base_name and extension joined by a dot. No folder before.
  const std::string* first_copy_folder = nullptr;
  const std::string* first_copy_name = nullptr;
  std::string new_base_name;       // set by naming, final after the first copy's suffix
  // The first copy's folder relative to its root, "." for the root (folder table); set by
  // naming. The images of one day or one subject share their folder's text.
  const std::string* target = nullptr;
  std::uint64_t size = 0;          // bytes, from the source
  std::time_t modified = 0;        // the source's modification time
  std::int64_t file_time_shift = 0;  // correction of `modified` as a capture time (naming)
  std::int64_t recorded_time_shift = 0;  // correction of the times inside the file
  std::string number_text;         // 4 or 6 digits, or empty
  int index = 0;                   // position in the image list
  long ledger = -1;                // its entry in the run's ledger; -1 before it has one
  bool from_earlier_run = false;   // its first copy was made by an earlier run
  bool listed = false;             // `size` and `modified` are from the card's listing

  // The full path; only "/" separates, as the system reads it.
  std::string source_path() const;
  // Sets the path source_path() gives, its texts kept in `folders`.
  void set_source(FolderTable& folders, std::string_view path);
  bool has_first_copy() const { return first_copy_folder != nullptr; }
  // The first copy's full path; empty before it is made.
  std::string first_copy_path() const;
  void append_first_copy_path(std::string& out) const;
  // Sets the path first_copy_path() gives, once new_base_name is final.
  void set_first_copy(FolderTable& folders, std::string_view path);

  // The time names, folders and sidecars date the image by when its file's contents give none.
  std::time_t capture_time() const { return modified + static_cast<std::time_t>(file_time_shift); }

  const std::string& extension() const { return extension_text ? *extension_text : no_text(); }
  const std::string& relative_folder() const { return folder ? *folder : no_text(); }
  const std::string& target_folder() const { return target ? *target : no_text(); }

  static const std::string& no_text() {
    static const std::string empty;
    return empty;
  }
};

}  // namespace cw
