// Disc set planning: spreads folders of images over a set of discs before anything is written.
//
// Each folder goes whole onto one disc when it fits into the space left on the current disc,
// else onto a new disc; a folder larger than a whole disc is cut into segments that fill the
// current disc and then whole discs, all under the folder's name. The discs are filled in list
// order; at most kMaxDiscs discs make a set. What fits is measured on the disc's image, not on
// its files alone: a disc's image, with its file system and every file from a sector of its
// own, never exceeds the capacity (see image_estimate.h).
//
// Links are never followed: a symbolic link in a folder (to a file or to a folder), a folder
// listed through a link, and anything that is neither a file nor a folder are left off the
// discs, not counted, and named in the plan's `skipped` list. Every failure ends the plan with
// a message that is also put on the error trace; nothing is written while planning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <map>
#include <vector>

#include "foundation/content_hash.h"

namespace cw {

// Capacity of one disc: a single-layer DVD with a margin (decimal bytes, not 4.7 GB).
inline constexpr std::uint64_t kDiscCapacity = 4'600'000'000ULL;
// The most discs a set may take.
inline constexpr std::size_t kMaxDiscs = 200;
// A set of one disc no larger than this may go onto a CD.
inline constexpr std::uint64_t kCdCapacity = 600'000'000ULL;
// Full source paths of this many characters or more are refused.
inline constexpr std::size_t kMaxPathChars = 200;

// One folder, or one segment of a folder, on a disc.
struct DiscFolder {
  std::string name;                // path relative to the set's root, "/"-separated, no leading "/"
  std::vector<std::string> files;  // file names, in the folder's listing order
  std::uint64_t size = 0;          // total size of those files
};

struct Disc {
  std::vector<DiscFolder> folders;
  std::uint64_t size = 0;        // total size of its files
  std::uint64_t image_size = 0;  // bound of its image's size, at most the set's capacity
};

// An entry of the planned folders that no disc holds.
struct SkippedEntry {
  std::string path;  // full path
  bool link = true;  // a symbolic link; else neither a file nor a folder (a device, a pipe)
};
// "Not burned (symbolic link): PATH" or "Not burned (not a file or folder): PATH".
std::string skipped_text(const SkippedEntry& entry);

// What the ingest ledger knows of a file planned onto a disc: the hash of the copy as it lies in
// the archive and the card it came from. A disc's manifest and provenance are made from these.
struct FileOrigin {
  Hash128 hash;
  int ingestion_id = -1;
  std::string card_label;
  std::string card_uuid;
  std::string camera_serial;
  std::string captured;  // "YYYYMMDD_hhmmss"; empty when unknown
};

struct DiscSet {
  std::string title;  // "Primary Folders", "Pre-Conversion Backup", "Selected Folders"
  std::string label;  // volume label of the set: "Disc", or the record key with A or B
  std::string root;   // folder the disc folders' names are relative to ("/"-separated)
  std::uint64_t capacity = kDiscCapacity;
  std::vector<Disc> discs;  // the discs in use, at most kMaxDiscs
  std::vector<SkippedEntry> skipped;  // in the order met
  // Keyed by the source path as a disc's layout forms it (root, folder and name joined); files
  // not listed are hashed when their disc is laid out.
  std::map<std::string, FileOrigin> origins;
};

// What to plan.
struct PlanRequest {
  std::string root;                  // the folders' common root
  std::vector<std::string> folders;  // absolute, or relative to the root
  std::string title;
  int key = -1;             // ingestion record key numbering the discs; -1 for none
  bool subfolders = false;  // add every subfolder of each listed folder
  std::uint64_t capacity = kDiscCapacity;
};

// Plans the request into `set`. On failure returns false with `message` (also on the error
// trace). Success with no disc in use means there is nothing to burn (no_images_text()).
bool plan_discs(const PlanRequest& request, DiscSet& set, std::string& message);

// Volume label of a set: "Disc" without a record key, else the key and "A" for a title naming
// the primary folders, "B" otherwise (1234A, 57B).
std::string volume_label(int key, const std::string& title);
// Label of one disc of the set, numbered from 1: "1234A_002".
std::string disc_label(const DiscSet& set, std::size_t index);
// A set of one disc small enough for a CD may be written on a CD; other sets need DVDs.
bool cd_allowed(const DiscSet& set);
// "Burning %s will require 1 CD or DVD." or "Burning %s will require %d DVD(s)."
std::string plan_summary(const DiscSet& set);
// The message for a plan without a disc.
inline const char* no_images_text() { return "No images to burn."; }

}  // namespace cw
