// Manifests: for each tree an ingestion filled, one text file listing every image file it put
// (or found) there with its content hash, one line per file in the form `xxh128sum` prints
// ("HASH  PATH", the path relative to the tree's root). A photographer can check the archive
// years later with the standard tool alone:
//
//     cd ROOT && xxh128sum -c Manifests/20240517_102030_ingestion_12.xxh128
//
// (`xxhsum -c` takes the same file), or with `cardwright verify`. The manifests lie in the
// folder "Manifests" at the root of each tree, where no ingestion puts images.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/content_hash.h"

namespace cw {

struct RunOptions;
struct RunState;

inline constexpr const char* kManifestFolder = "Manifests";

// The lines of one tree: paths relative to its root, each with its hash, in path order; a
// path added again keeps its last hash. The paths lie end to end in one text, so that the
// lines of a card of many files take little more than their bytes.
class ManifestLines {
 public:
  void add(std::string_view relative, const Hash128& hash);
  // Room for `more` lines beyond those held.
  void reserve(std::size_t more) { lines_.reserve(lines_.size() + more); }
  bool empty() const { return lines_.empty(); }
  // Calls each(path, hash) for every path once, in byte order.
  template <typename Each>
  void for_each(Each&& each) {
    sort();
    for (const Line& line : lines_)
      each(std::string_view(text_).substr(line.at, line.size), line.hash);
  }

 private:
  struct Line {
    std::size_t at = 0;  // in text_
    std::size_t size = 0;
    Hash128 hash;
  };
  // Puts the lines in path order and drops each path's earlier lines.
  void sort();
  std::string text_;
  std::vector<Line> lines_;
  bool sorted_ = true;
};

// The real roots of the trees a run meant its images for, each once.
std::vector<std::string> manifest_roots(const RunOptions& options, RunState& state);
// Adds the files of a run in the tree whose real root is `root` to its lines: each image's
// copy there, when the image was meant for that tree and its hash is known. A path that the
// manifest form cannot hold (a line break in it) is left out and named in `skipped`. One tree
// is gathered at a time, so that a large card's lines are held for one tree only.
void add_manifest_lines(const RunOptions& options, RunState& state, const std::string& root,
                        ManifestLines& lines, std::vector<std::string>& skipped);

// Writes the manifest of one tree under a name of its own in ROOT/Manifests
// ("%Y%m%d_%H%M%S_ingestion_ID.xxh128", a suffix added when taken). False with `error`.
bool write_manifest(const std::string& root, ManifestLines& lines, int ingestion_id,
                    std::time_t when, std::string& path, std::string& error);

// The folder a manifest's paths are relative to: the one holding its "Manifests" folder
// (the manifest's own folder for a manifest kept elsewhere).
std::string manifest_root(const std::string& manifest);

struct ManifestCheck {
  int ok = 0;
  int failed = 0;     // the file's hash differs
  int missing = 0;    // the file cannot be read
  int malformed = 0;  // lines that are not "HASH  PATH"
  std::vector<std::string> problems;  // "PATH: FAILED", "PATH: MISSING", "line N: malformed"
};

// Checks every file a manifest lists, relative to `root`. False with `error` when the
// manifest itself cannot be read.
bool check_manifest(const std::string& manifest, const std::string& root, ManifestCheck& check,
                    std::string& error);

// A folder of the run's trees was renamed after the run (number ranges): the run's recorded
// copies below `from` lie below `to` (both as the system resolves them).
void rename_run_copies(RunState& state, const std::string& from, const std::string& to);

}  // namespace cw
