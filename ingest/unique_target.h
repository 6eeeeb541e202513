// The name a first copy takes without ever replacing an existing file: when the wanted name is
// taken, either the file there holds the same content as the source (the copy is a duplicate)
// or a numeric suffix makes the name free. Every taken name on the way is compared with the
// source, so a copy that some run (this one before, or another one writing into the same tree
// at this moment) has already put under a suffixed name is recognised as well.
//
// Size and modification time only pick the names worth a closer look; the content hash
// decides. Two different images of one name, size and time (a folder rollover, two bodies of
// one model) are never taken for one, and a video or sound file, which has no capture time,
// is recognised like any image.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/content_hash.h"

namespace cw {

class CameraSource;

// Highest numeric suffix tried before giving up.
inline constexpr int kMaxUniqueSuffix = 99999;

// A source file (or camera image) as the duplicate check sees it: its size and time from one
// look, its content hash once something made reading it worthwhile.
struct SourceFacts {
  std::string path;
  std::uint64_t size = 0;
  std::int64_t modified = 0;
  std::optional<Hash128> hash;
  bool unreadable = false;  // hashing it failed: it is never a duplicate
  // It lies on a FAT or exFAT card: a copy whose time differs by a change of zone is looked
  // at as well (card_time.h).
  bool local_times = false;
  // The camera a "ptp/" path is read on (not owned; none: such a path cannot be read).
  CameraSource* cameras = nullptr;
};

// The facts of a file, or of a camera image on `cameras` (kept in the facts for the hash):
// size and time; false when it cannot be examined.
bool source_facts(const std::string& path, SourceFacts& facts, CameraSource* cameras);
// Reads the source once and keeps its hash; false when it cannot be read (errno set).
bool source_hash(SourceFacts& source);
// True when the file at `path` holds the same content as `source`: a regular file of the same
// size and modification time (same_card_time), and then the same hash (the file's, which is
// read, in `found` when given).
bool holds_same_content(const std::string& path, SourceFacts& source, Hash128* found = nullptr);

// Where a copy wanted at a target path goes.
struct TargetName {
  std::string path;                      // the first free name
  int suffix = 0;                        // its suffix number (0: the wanted name itself)
  std::optional<std::string> duplicate;  // a taken name that holds the same content
  bool exhausted = false;                // every suffix up to kMaxUniqueSuffix is taken
};

// `target` with suffix n: "_%05d" placed before an extension of exactly three characters or
// one of the longer ones that take sidecars (HEIC, M2TS...), else at the end; n = 0 gives
// `target` itself.
std::string suffixed_name(const std::string& target, int n);

// Looks at the names of `target` from suffix `from` on: the first one that is free, or the
// first taken one that holds the same content as `source`.
TargetName find_target_name(const std::string& target, SourceFacts& source, int from);

}  // namespace cw
