// File-system utilities: folder listings and tree walks, folder creation, removal of scratch
// folders, renames with retries, folder collection for disc planning, CP1252 → UTF-8, and the
// stand-alone file copy used outside an ingestion run.
//
// Paths are byte texts; "/" and "\" both count as separators. Linux has no "\" separator, so
// a "\" that the engine or the user wrote is read as "/" where the system is called.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/run_context.h"

namespace cw {

// True for "/" and "\".
inline bool is_separator(char c) { return c == '/' || c == '\\'; }

// A folder's direct entries as full paths, in the order the system returns them.
struct DirList {
  std::vector<std::string> entries;
  std::size_t pos = 0;  // read position for callers that take entries one by one
  const std::string* next() { return pos < entries.size() ? &entries[pos++] : nullptr; }
};

// Entry types passed to a walk visitor.
enum WalkType { kWalkFile = 1, kWalkFolder = 2 };

// Visitor: (path, stat, type, offset of the name within path, level) → 0 to go on, else the
// walk ends with that value.
using WalkVisitor = std::function<int(const std::string& path, const struct stat& st, int type,
                                      std::size_t name_offset, int level)>;

// Visits `path` itself and everything below it; level -1 means "do not descend".
// Returns 0, the visitor's non-zero result, or -1 after a logged error.
int walk_tree(const std::string& path, const WalkVisitor& visitor, int level);

// Direct entries of a folder; nothing when the folder is not accessible (errno says why)
// or memory runs out.
std::unique_ptr<DirList> dir_list_open(const std::string& path);

// The folder's entries as "path/name" without "." and ".."; on failure the run has failed.
std::optional<std::vector<std::string>> get_dir_list(RunContext& ctx, const std::string& path);
// Deletes every file of the folder, then the folder (no descent into subfolders).
bool rmdir_all(RunContext& ctx, const std::string& path);
// Creates every missing folder of a path; a folder another run makes at the same moment is
// taken as made.
bool make_folders(RunContext& ctx, const std::string& path);
// Whether anything is at `path` (a link counts as itself, not followed).
bool path_exists(const std::string& path);
// Whether `path` is a folder (links followed). Both go through the system-call table, so tests
// can make them fail.
bool is_folder(const std::string& path);
// Creates one folder when it does not exist: 0 (also when another thread made it meanwhile),
// or -1 on failure (errno set).
int make_folder(const std::string& path);
// Renames, retrying for about a minute while the system refuses access: 0 or -1.
// Never replaces an existing target (fails with EEXIST).
int rename_path(const std::string& from, const std::string& to);
// Pause between two rename attempts (one second; tests shorten it).
void set_rename_retry_interval(std::chrono::milliseconds interval);
// Adds every folder below `path`, recursively, to `list`.
bool collect_folders(std::vector<std::string>& list, const std::string& path);

// Text that is valid UTF-8 passes unchanged; anything else is converted from CP1252, the five
// bytes CP1252 leaves undefined becoming U+FFFD. On failure `message` says why.
// to_utf8_release() closes the shared converter.
bool to_utf8(std::string_view input, std::string& output, std::string& message);
void to_utf8_release();

// The path as the system takes it: every "\" turned into "/".
std::string system_path(std::string_view path);

// `name` in `folder`: one separator between them, whether or not the folder ends with one.
std::string join_path(const std::string& folder, const std::string& name);

// Copies one file outside an ingestion run, reporting through alerts. Refuses to overwrite
// an existing target when `refuse_overwrite`; keeps the source's modification time.
bool copy_file_standalone(const std::string& source, const std::string& target,
                          bool refuse_overwrite);

}  // namespace cw
