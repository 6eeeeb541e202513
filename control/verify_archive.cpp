// Archive verification for `cardwright verify` (see verify_archive.h).
#include "control/verify_archive.h"

#include <sys/stat.h>

#include <cstdio>

#include "control/app_session.h"
#include "disc/disc_image.h"

namespace cw {

namespace {

std::string read_whole(const std::string& path) {
  std::string text;
  FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return text;
  char buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;) text.append(buf, n);
  std::fclose(in);
  return text;
}

// A folder holding a disc's files: its manifest checked as an archive tree's is, the files
// that matched taken from the manifest's lines for the ledger, and the files beside them named.
bool verify_disc_folder(const std::string& path, DiscCheck& check, const std::string& manifest,
                        std::string& error) {
  ManifestCheck folder;
  if (!check_manifest(manifest, path, folder, error)) {
    error = "can't read the disc's manifest: " + error;
    return false;
  }
  check.ok = folder.ok;
  check.failed = folder.failed;
  check.missing = folder.missing;
  check.malformed = folder.malformed;
  check.problems = folder.problems;
  int ignored = 0;
  std::vector<std::string> unused;
  std::vector<std::string> failing, listed;
  for (const std::string& p : folder.problems) failing.push_back(p.substr(0, p.rfind(": ")));
  for (const auto& [file, hash] : parse_disc_manifest(read_whole(manifest), ignored, unused)) {
    listed.push_back(file);
    bool bad = false;
    for (const std::string& f : failing) bad = bad || f == file;
    struct stat fs;
    if (!bad && stat((path + "/" + file).c_str(), &fs) == 0)
      check.matched.push_back(DiscCheck::File{file, hash, static_cast<std::uint64_t>(fs.st_size)});
  }
  check_unlisted_in_folder(path, listed, check);
  return true;
}

}  // namespace

std::string default_manifest_root(const std::string& manifest) { return manifest_root(manifest); }

bool verify_manifest(const ManifestRecord& manifest, ManifestCheck& check, std::string& error) {
  if (!manifest.unmapped_root.empty()) {
    error = "the manifest \"" + manifest.path + "\" lies below the archive root \"" +
            manifest.unmapped_root +
            "\", which this station does not map (preference ArchiveRoots)";
    return false;
  }
  return check_manifest(manifest.path, manifest.root, check, error);
}

std::optional<std::vector<ManifestRecord>> recorded_manifests(AppSession& session, int id) {
  Database* db = session.database();
  if (!db) return std::nullopt;
  return manifests_of(*db, id);
}

bool verify_disc(const std::string& path, DiscCheck& check, std::string& manifest,
                 std::string& error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    error = "'" + path + "' is neither a disc, a folder nor an image file";
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    manifest = path + "/" + kDiscManifestName;
    return verify_disc_folder(path, check, manifest, error);
  }
  // A disc in a recorder is read through the recorder, an image file as a file.
  manifest = path + ":/" + kDiscManifestName;
  return S_ISBLK(st.st_mode) ? check_disc_in_drive(path, check, error)
                             : check_disc_image(path, check, error);
}

std::optional<std::vector<std::string>> files_not_in_ledger(AppSession& session,
                                                            const DiscCheck& check) {
  Database* db = session.database();
  if (!db) return std::nullopt;
  std::vector<std::pair<Hash128, std::uint64_t>> contents;
  contents.reserve(check.matched.size());
  for (const DiscCheck::File& f : check.matched) contents.emplace_back(f.hash, f.size);
  const std::optional<std::vector<bool>> held = ledger_holds(*db, contents);
  if (!held) return std::nullopt;
  std::vector<std::string> unknown;
  for (std::size_t i = 0; i < check.matched.size(); ++i)
    if (!(*held)[i]) unknown.push_back(check.matched[i].path);
  return unknown;
}

}  // namespace cw
