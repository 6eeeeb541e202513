// `cardwright verify MANIFEST|INGESTION_ID`: checks the files a manifest lists against their
// hashes, as `xxh128sum -c` would, for one manifest or every manifest of an ingestion; with
// --disc, a disc (or its image, or a copy of its files) against the manifest it carries.
#include <sys/stat.h>

#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "database/database.h"
#include "database/ledger_store.h"
#include "disc/disc_image.h"
#include "disc/libburn_recorder.h"
#include "foundation/content_hash.h"
#include "ingest/manifest.h"

namespace cw::app {

namespace {

bool all_digits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// The ingestion ID a text of digits names; nothing when it is too large for any record.
std::optional<int> ingestion_id_of(const std::string& digits) {
  int id = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return id;
}

// Checks one manifest and prints its problems and its count; true when every file matched.
bool verify_one(const ManifestRecord& m) {
  ManifestCheck check;
  std::string error;
  std::printf("%s (files below %s)\n", m.path.c_str(), m.root.c_str());
  if (!check_manifest(m.path, m.root, check, error)) {
    std::printf("  can't read the manifest: %s\n", error.c_str());
    return false;
  }
  for (const std::string& p : check.problems) std::printf("  %s\n", p.c_str());
  std::printf("  %d OK, %d FAILED, %d MISSING, %d malformed line%s\n", check.ok, check.failed,
              check.missing, check.malformed, check.malformed == 1 ? "" : "s");
  return check.failed == 0 && check.missing == 0 && check.malformed == 0;
}

// Checks a disc, a folder copied from one or an image of one against the manifest at its
// root, then asks the ledger whether each file that matched is content it recorded. Prints
// every file that differs, is missing or is unknown to the ledger, and the counts.
int verify_disc(const CommandSpec& spec, const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0)
    return failure(spec.name, "'" + path + "' is neither a disc, a folder nor an image file");
  DiscCheck check;
  std::string error;
  std::string manifest;
  if (S_ISDIR(st.st_mode)) {
    manifest = path + "/" + kDiscManifestName;
    ManifestCheck folder;
    if (!check_manifest(manifest, path, folder, error))
      return failure(spec.name, "can't read the disc's manifest: " + error);
    check.ok = folder.ok;
    check.failed = folder.failed;
    check.missing = folder.missing;
    check.malformed = folder.malformed;
    check.problems = folder.problems;
    // The files that matched, for the ledger: read again from the manifest's lines.
    FILE* in = std::fopen(manifest.c_str(), "rb");
    std::string text;
    char buf[65536];
    for (std::size_t n; in && (n = std::fread(buf, 1, sizeof buf, in)) > 0;) text.append(buf, n);
    if (in) std::fclose(in);
    int ignored = 0;
    std::vector<std::string> unused;
    std::vector<std::string> failing, listed;
    for (const std::string& p : folder.problems) failing.push_back(p.substr(0, p.rfind(": ")));
    for (const auto& [file, hash] : parse_disc_manifest(text, ignored, unused)) {
      listed.push_back(file);
      bool bad = false;
      for (const std::string& f : failing) bad = bad || f == file;
      struct stat fs;
      if (!bad && stat((path + "/" + file).c_str(), &fs) == 0)
        check.matched.push_back(
            DiscCheck::File{file, hash, static_cast<std::uint64_t>(fs.st_size)});
    }
    // Files added beside the disc's own are named too, as an image's are.
    check_unlisted_in_folder(path, listed, check);
  } else {
    // A disc in a recorder is read through the recorder, an image file as a file.
    manifest = path + ":/" + kDiscManifestName;
    const bool read = S_ISBLK(st.st_mode) ? check_disc_in_drive(path, check, error)
                                          : check_disc_image(path, check, error);
    if (!read) return failure(spec.name, error);
  }
  std::printf("%s\n", manifest.c_str());
  for (const std::string& p : check.problems) std::printf("  %s\n", p.c_str());

  int recorded = 0;
  ConsoleUserInterface ui;
  CommandSession session(ui, kSessionDatabase, stderr);
  if (session->ok() && session->database()) {
    for (const DiscCheck::File& f : check.matched) {
      if (ledger_find(*session->database(), f.hash, f.size))
        ++recorded;
      else
        std::printf("  %s: not in the ledger\n", f.path.c_str());
    }
  }
  std::printf("  %d OK, %d FAILED, %d MISSING, %d not in the manifest, %d malformed line%s; "
              "%d of %zu in the ledger\n",
              check.ok, check.failed, check.missing, check.unlisted, check.malformed,
              check.malformed == 1 ? "" : "s", recorded, check.matched.size());
  return check.passed() ? 0 : 1;
}

int run_verify(const CommandSpec& spec, Args& a) {
  if (auto disc = a.value("disc")) {
    if (!a.words.empty() || a.has("root"))
      return usage_error(spec.name, "--disc takes no manifest, ingestion ID or --root");
    return verify_disc(spec, *disc);
  }
  if (a.words.size() != 1)
    return usage_error(spec.name, "give one manifest file or one ingestion ID");
  const std::string& what = a.words[0];
  struct stat st;
  std::vector<ManifestRecord> manifests;
  if (stat(what.c_str(), &st) == 0) {
    manifests.push_back({a.value("root").value_or(manifest_root(what)), what});
  } else if (all_digits(what)) {
    if (a.has("root")) return usage_error(spec.name, "--root goes with a manifest file");
    const std::optional<int> id = ingestion_id_of(what);
    if (!id) return failure(spec.name, "no ingestion has the ID " + what);
    ConsoleUserInterface ui;
    CommandSession session(ui, kSessionDatabase);
    if (!session->ok() || !session->database()) return 1;
    std::optional<std::vector<ManifestRecord>> recorded =
        manifests_of(*session->database(), *id);
    if (!recorded) return 1;
    if (recorded->empty())
      return failure(spec.name, "no manifest is recorded for ingestion " + what +
                                    " ('cardwright db ingestions' shows the IDs)");
    manifests = *recorded;
  } else {
    return failure(spec.name, "'" + what + "' is neither a manifest file nor an ingestion ID");
  }
  bool ok = true;
  for (const ManifestRecord& m : manifests) ok = verify_one(m) && ok;
  return ok ? 0 : 1;
}

}  // namespace

const CommandSpec& verify_command() {
  static const CommandSpec spec{
      "verify",
      "check an archive against the manifest an ingestion wrote",
      {"MANIFEST [--root DIR]", "INGESTION_ID", "--disc PATH"},
      "Every ingestion writes a manifest into a folder \"Manifests\" at the root of each tree it\n"
      "filled: one line per file, its XXH3-128 hash and its path below the root, in the form\n"
      "`xxh128sum -c` checks (cd ROOT && xxh128sum -c Manifests/FILE). This command reads the\n"
      "files a manifest lists, or those of every manifest of an ingestion, and names each one\n"
      "whose content no longer matches (FAILED) or that cannot be read (MISSING).\n"
      "Every disc written holds MANIFEST.xxh128 at its root (cd DISC && xxh128sum -c\n"
      "MANIFEST.xxh128); --disc checks a mounted disc, a folder copied from one, a disc in a\n"
      "recorder (its device) or an image file against it, and names the files that differ,\n"
      "are missing, are not in the manifest or are not known to the ingest ledger.",
      {},
      {{"root", "DIR", "the folder the manifest's paths start from (default: the folder that\n"
                       "holds its Manifests folder)", false, "dir"},
       {"disc", "PATH", "check a disc, a copy of one or a disc image file", false, "file"}},
      {},
      "0 every file matches, 1 a file differs or is missing, a disc holds a file its manifest\n"
      "does not list (or nothing could be checked), 2 bad usage.",
      run_verify,
  };
  return spec;
}

}  // namespace cw::app
