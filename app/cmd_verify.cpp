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
#include "control/verify_archive.h"

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
  if (!verify_manifest(m, check, error)) {
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
int check_disc(const CommandSpec& spec, const std::string& path) {
  DiscCheck check;
  std::string error;
  std::string manifest;
  if (!verify_disc(path, check, manifest, error)) return failure(spec.name, error);
  std::printf("%s\n", manifest.c_str());
  for (const std::string& p : check.problems) std::printf("  %s\n", p.c_str());

  int recorded = 0;
  ConsoleUserInterface ui;
  CommandSession session(ui, kSessionDatabase, stderr);
  if (session->ok())
    if (std::optional<std::vector<std::string>> unknown = files_not_in_ledger(*session, check)) {
      for (const std::string& file : *unknown)
        std::printf("  %s: not in the ledger\n", file.c_str());
      recorded = static_cast<int>(check.matched.size() - unknown->size());
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
    return check_disc(spec, *disc);
  }
  if (a.words.size() != 1)
    return usage_error(spec.name, "give one manifest file or one ingestion ID");
  const std::string& what = a.words[0];
  struct stat st;
  std::vector<ManifestRecord> manifests;
  if (stat(what.c_str(), &st) == 0) {
    manifests.push_back({a.value("root").value_or(default_manifest_root(what)), what, ""});
  } else if (all_digits(what)) {
    if (a.has("root")) return usage_error(spec.name, "--root goes with a manifest file");
    const std::optional<int> id = ingestion_id_of(what);
    if (!id) return failure(spec.name, "no ingestion has the ID " + what);
    ConsoleUserInterface ui;
    CommandSession session(ui, kSessionDatabase);
    if (!session->ok()) return 1;
    std::optional<std::vector<ManifestRecord>> recorded = recorded_manifests(*session, *id);
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
