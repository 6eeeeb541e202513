// Card scan and file selection: builds a run's image list from a folder tree on disk, from a
// camera's image list, or from the files the user picked, and decides which files an
// extension list takes.
#pragma once

#include <string>
#include <string_view>

#include "ingest/engine_context.h"
#include "ingest/folder_table.h"
#include "ingest/image_record.h"

namespace cw {

// Adds the images of the folder at `path` and, depth first, of its subfolders: per folder its
// files in case-insensitive name order, then its subfolders in the same order. A path that
// begins with "ptp" lists the images of the camera `cameras` finds by the card's name instead
// (null: no camera, the run ends as for a camera not connected). `level` is 0 for the scan root.
//
// Names are bytes: hidden files and folders are taken like any other, and no character of a
// name is translated. One entry never ends the scan: an AppleDouble companion ("._NAME" with
// that header) and another system's housekeeping (".DS_Store", its index and trash folders)
// are counted and left; a file whose name or path the archive cannot hold, and an
// entry or folder that cannot be read, is named on a report line and kept for the verdict.
// Folders are opened through their parents' descriptors, so that what lies below a path
// longer than the system takes is still named.
//
// A card's DCIM, or a card's root (a folder holding DCIM), also has the clip folders of the
// card's video trees (ingest/card_layout.h), scanned after the rest: beside a DCIM a clip
// folder's images show the folder by its own name ("CLIP", "STREAM"), as DCIM's folders do;
// from the card root by its path there ("PRIVATE/M4ROOT/CLIP"). The rest of those trees is
// the camera's housekeeping, counted and left without a warning. A clip's companion beside
// its taken clip is no image: it goes with the clip.
bool scanDir(const RunOptions& options, RunState& state, RunCounters& counts, RunReporter& reporter,
             const std::string& path, int level, CameraSource* cameras);

// Adds one image per path of the options' file array, in order, with no extension filter.
// Every path must really lie below the scan root; files that are not regular are skipped.
bool image_from_list(const RunOptions& options, RunState& state, RunCounters& counts,
                     RunReporter& reporter);

// After the scan: the files that symbolic links inside the card lead to, each unless it was
// taken already (by its own name or through another link), named after the link.
bool add_linked_images(const RunOptions& options, RunState& state, RunCounters& counts,
                       RunReporter& reporter);

// True when a file of this name is to be left out. `extension_list` is " EXT1 EXT2 ";
// `include` says whether it lists the extensions to take or those to skip. Files left out
// because of the list (in include mode, files without an extension too) add 1 to `counter`;
// sidecars (".xmp") are always left out, uncounted.
bool skip_by_extension(std::string_view name, bool include, std::string_view extension_list,
                       int& counter);
// The same with the run's list and include flag; a scratch failure keeps the file (reported).
bool skip_by_extension(std::string_view name, const RunOptions& options, RunReporter& reporter,
                       int& counter);

// Why a file named `name`, at a path of `path_size` bytes, cannot be taken into an archive
// whose file systems hold names of at most `name_max` bytes: its name or its path is too long.
// Null when it can be.
const char* too_long_for_archive(std::string_view name, std::size_t path_size,
                                 std::size_t name_max);

// Fills `record` from a full source path below `root` ("/" separates, nothing else). On false,
// `message` says why: "path outside root", "path too long", "file name too long" (beyond what
// the system takes) or "out of memory".
bool make_image_record(FolderTable& folders, ImageRecord& record, const std::string& root,
                       const std::string& path, std::string& message);

// An entry another system keeps for itself on any volume it mounts: the view settings of a
// folder, a search index, file-system events, the trash of files deleted there, a Windows
// volume's system folder. None is the camera's; the trash holds only what a person deleted.
bool is_housekeeping(const std::string& name, bool folder);

// Case-insensitive byte order of paths, as the scan sorts them.
bool path_less_nocase(const std::string& a, const std::string& b);

}  // namespace cw
