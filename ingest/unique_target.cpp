// Unique first-copy names and the duplicate check.
#include "ingest/unique_target.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "foundation/fs.h"
#include "foundation/sysio.h"
#include "ingest/card_layout.h"
#include "ingest/card_time.h"
#include "platform/camera_source.h"

namespace cw {

namespace {

constexpr std::size_t kHashBuffer = 1048576;
// A file is hashed in pieces small enough to stay in the processor's cache from the read that
// fills them to the hash that reads them (a camera's stream keeps the larger reads).
constexpr std::size_t kFileHashPiece = 262144;

// The position where a suffix goes: before an extension of exactly three characters, or of
// one of the longer ones that take sidecars too (IMG_00001.HEIC, whose sidecar then is
// IMG_00001.xmp), else the end.
std::size_t suffix_position(const std::string& target) {
  std::size_t dot = target.rfind('.');
  if (dot == std::string::npos) return target.size();
  const std::size_t length = target.size() - dot - 1;
  if (length != 3 && !is_long_sidecar_extension(std::string_view(target).substr(dot + 1)))
    return target.size();
  for (std::size_t i = dot + 1; i < target.size(); ++i)
    if (is_separator(target[i])) return target.size();
  return dot;
}

bool hash_camera_image(CameraSource* cameras, const std::string& path, Hash128& out,
                       char* buffer) {
  std::unique_ptr<CameraStream> stream = open_camera_path(cameras, path);
  if (!stream) return false;
  ContentHasher hasher;
  for (;;) {
    const long long n = stream->read(buffer, kHashBuffer);
    if (n < 0) return false;
    if (n == 0) break;
    hasher.update(buffer, static_cast<std::size_t>(n));
  }
  out = hasher.digest();
  return true;
}

// Hashes a file on disk.
bool hash_disk_file(const std::string& path, Hash128& out) {
  auto buffer = std::make_unique_for_overwrite<char[]>(kHashBuffer);
  return hash_file(path, out, buffer.get(), kFileHashPiece);
}

// Hashes a file, or a camera image on `cameras`.
bool hash_any(CameraSource* cameras, const std::string& path, Hash128& out) {
  if (!is_camera_path(path)) return hash_disk_file(path, out);
  auto buffer = std::make_unique_for_overwrite<char[]>(kHashBuffer);
  return hash_camera_image(cameras, path, out, buffer.get());
}

}  // namespace

bool source_facts(const std::string& path, SourceFacts& facts, CameraSource* cameras) {
  facts = SourceFacts{};
  facts.path = path;
  facts.cameras = cameras;
  if (is_camera_path(path)) {
    CameraFileInfo info;
    if (!stat_camera_path(cameras, path, info)) return false;
    facts.size = info.size;
    facts.modified = info.modified;
    return true;
  }
  struct stat st;
  if (sysio().stat(path.c_str(), &st) != 0) return false;
  facts.size = static_cast<std::uint64_t>(st.st_size);
  facts.modified = st.st_mtime;
  return true;
}

bool source_hash(SourceFacts& source) {
  if (source.hash) return true;
  if (source.unreadable) return false;
  Hash128 h;
  if (!hash_any(source.cameras, source.path, h)) {
    source.unreadable = true;
    return false;
  }
  source.hash = h;
  return true;
}

namespace {

// holds_same_content for the file at `path` whose lstat gave `st`.
bool same_content(const std::string& path, const struct stat& st, SourceFacts& source,
                  Hash128* found) {
  if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) != source.size ||
      !same_card_time(st.st_mtime, source.modified, source.local_times))
    return false;
  Hash128 h;
  if (!source_hash(source) || !hash_disk_file(path, h)) return false;
  if (found) *found = h;
  return h == *source.hash;
}

}  // namespace

bool holds_same_content(const std::string& path, SourceFacts& source, Hash128* found) {
  struct stat st;
  return sysio().lstat(path.c_str(), &st) == 0 && same_content(path, st, source, found);
}

std::string suffixed_name(const std::string& target, int n) {
  if (n == 0) return target;
  const std::size_t at = suffix_position(target);
  char digits[16];
  std::snprintf(digits, sizeof digits, "_%05d", n);
  return target.substr(0, at) + digits + target.substr(at);
}

TargetName find_target_name(const std::string& target, SourceFacts& source, int from) {
  TargetName name;
  for (int n = from; n <= kMaxUniqueSuffix; ++n) {
    std::string candidate = suffixed_name(target, n);
    // A name is taken by anything, a link that leads nowhere included; one look tells that
    // and the size and time the content check starts from (a large card's folders hold many
    // images of one number, each looked at on the way to the next free suffix).
    struct stat st;
    if (sysio().lstat(candidate.c_str(), &st) != 0) {
      name.path = std::move(candidate);
      name.suffix = n;
      return name;
    }
    if (same_content(candidate, st, source, nullptr)) {
      name.duplicate = std::move(candidate);
      return name;
    }
  }
  name.exhausted = true;
  return name;
}

}  // namespace cw
