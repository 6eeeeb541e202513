// Manifest lines, files and checks.
#include "ingest/manifest.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

#include "foundation/fs.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "ingest/engine_context.h"
#include "ingest/format_verdict.h"
#include "ingest/staged_file.h"

namespace cw {

namespace {

constexpr std::size_t kHashBuffer = 1048576;
constexpr int kMaxManifestSuffix = 999;
constexpr std::size_t kManifestPiece = 256 * 1024;

std::string manifest_name(int ingestion_id, std::time_t when, int suffix) {
  struct tm local;
  char stamp[32] = "00000000_000000";
  if (localtime_r(&when, &local)) std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &local);
  std::string name = stamp;
  name += "_ingestion_";
  name += std::to_string(ingestion_id);
  if (suffix > 0) {
    name += '_';
    name += std::to_string(suffix);
  }
  name += ".xxh128";
  return name;
}

bool write_text(int fd, const std::string& text) {
  return write_all(fd, text.data(), text.size()) == IoStatus::kOk;
}

}  // namespace

void ManifestLines::add(std::string_view relative, const Hash128& hash) {
  lines_.push_back(Line{text_.size(), relative.size(), hash});
  text_ += relative;
  sorted_ = false;
}

void ManifestLines::sort() {
  if (sorted_) return;
  const std::string_view text = text_;
  // A later line lies further on in the text: of equal paths, the last one added comes last.
  std::sort(lines_.begin(), lines_.end(), [text](const Line& a, const Line& b) {
    const int order = text.substr(a.at, a.size).compare(text.substr(b.at, b.size));
    return order != 0 ? order < 0 : a.at < b.at;
  });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const bool superseded = i + 1 < lines_.size() &&
                            text.substr(lines_[i].at, lines_[i].size) ==
                                text.substr(lines_[i + 1].at, lines_[i + 1].size);
    if (!superseded) lines_[kept++] = lines_[i];
  }
  lines_.resize(kept);
  sorted_ = true;
}

std::vector<std::string> manifest_roots(const RunOptions& options, RunState& state) {
  std::vector<std::string> roots;
  for (const CopyTree tree : wanted_trees(options)) {
    std::string root = tree_root(options, state, tree);
    if (std::find(roots.begin(), roots.end(), root) == roots.end()) roots.push_back(std::move(root));
  }
  return roots;
}

void add_manifest_lines(const RunOptions& options, RunState& state, const std::string& root,
                        ManifestLines& lines, std::vector<std::string>& skipped) {
  // The trees kept below this root.
  std::vector<CopyTree> trees;
  for (const CopyTree tree : wanted_trees(options))
    if (tree_root(options, state, tree) == root) trees.push_back(tree);
  if (trees.empty()) return;
  lines.reserve(state.images.size());
  LedgerEntry scratch;
  for (const ImageRecord& r : state.images) {
    if (r.ledger < 0 || !is_taken_image(r)) continue;
    const LedgerEntry& e = state.ledger.read(static_cast<std::size_t>(r.ledger), scratch);
    // The first of those trees that holds a proven copy of the image.
    for (const CopyTree tree : trees) {
      const std::optional<std::size_t> c =
          state.settled_copies.look(options, state, r, e, tree).copy;
      if (!c || !e.copies[*c].hash || e.copies[*c].path.size() <= root.size() + 1) continue;
      const std::string& path = e.copies[*c].path;
      const std::string_view relative = std::string_view(path).substr(root.size() + 1);
      if (relative.find_first_of("\r\n") != std::string_view::npos)
        skipped.push_back(path);
      else
        lines.add(relative, *e.copies[*c].hash);
      break;
    }
  }
}

bool write_manifest(const std::string& root, ManifestLines& lines, int ingestion_id,
                    std::time_t when, std::string& path, std::string& error) {
  const std::string folder = root + "/" + kManifestFolder;
  if (sysio().mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    error = text_with_path(std::strerror(errno), folder);
    return false;
  }
  // Written a piece at a time: the text of a card of many files is never held whole.
  StagedFile out;
  bool written = out.create(folder);
  std::string text;
  lines.for_each([&](std::string_view relative, const Hash128& hash) {
    if (!written) return;
    ((text += hash.hex()) += "  ") += relative;
    text += '\n';
    if (text.size() >= kManifestPiece) {
      written = write_text(out.fd(), text);
      text.clear();
    }
  });
  if (written && !text.empty()) written = write_text(out.fd(), text);
  if (!written || out.close() != 0) {
    error = text_with_path(std::strerror(errno), folder);
    return false;
  }
  // Never replaces an earlier manifest: a second one in the same second gets a suffix.
  for (int suffix = 0; suffix <= kMaxManifestSuffix; ++suffix) {
    path = folder + "/" + manifest_name(ingestion_id, when, suffix);
    if (out.commit(path, false)) return true;
    if (errno != EEXIST) break;
  }
  error = text_with_path(std::strerror(errno), path);
  return false;
}

std::string manifest_root(const std::string& manifest) {
  const std::size_t sep = manifest.find_last_of('/');
  const std::string folder =
      sep == std::string::npos ? "." : sep == 0 ? "/" : manifest.substr(0, sep);
  const std::size_t up = folder.find_last_of('/');
  const std::string name = up == std::string::npos ? folder : folder.substr(up + 1);
  if (name != kManifestFolder) return folder;
  return up == std::string::npos ? "." : up == 0 ? "/" : folder.substr(0, up);
}

bool check_manifest(const std::string& manifest, const std::string& root, ManifestCheck& check,
                    std::string& error) {
  std::ifstream in(manifest);
  if (!in) {
    error = text_with_path(std::strerror(errno), manifest);
    return false;
  }
  auto buffer = std::make_unique_for_overwrite<char[]>(kHashBuffer);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty()) continue;
    const std::optional<Hash128> expected = Hash128::from_hex(line.substr(0, 32));
    if (!expected || line.size() < 35 || line.compare(32, 2, "  ") != 0) {
      ++check.malformed;
      check.problems.push_back("line " + std::to_string(number) + ": malformed");
      continue;
    }
    const std::string relative = line.substr(34);
    const std::string path = relative[0] == '/' ? relative : root + "/" + relative;
    Hash128 found;
    if (!hash_file(path, found, buffer.get(), kHashBuffer)) {
      ++check.missing;
      check.problems.push_back(relative + ": MISSING");
    } else if (found == *expected) {
      ++check.ok;
    } else {
      ++check.failed;
      check.problems.push_back(relative + ": FAILED");
    }
  }
  return true;
}

void rename_run_copies(RunState& state, const std::string& from, const std::string& to) {
  const std::string prefix = from + "/";
  state.ledger.change_copies(
      [&prefix](const LedgerCopy& c) { return c.path.compare(0, prefix.size(), prefix) == 0; },
      [&from, &to](LedgerCopy& c) { c.path = to + c.path.substr(from.size()); });
}

}  // namespace cw
