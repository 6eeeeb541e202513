// A disc's proof: the manifest of its files' hashes and the provenance of its images, both
// written at the disc's root so that the disc can be checked without this program
// (`xxh128sum -c MANIFEST.xxh128` from the root) and traced back to its cards.
#include <ctime>
#include <memory>
#include <set>

#include "disc/disc_image.h"
#include "disc/image_estimate.h"
#include "foundation/text.h"

namespace cw {

namespace {

constexpr std::size_t kHashBuffer = 1 << 20;

// "YYYY-MM-DD hh:mm:ss" of a capture time "YYYYMMDD_hhmmss"; other texts as they are.
std::string capture_text(const std::string& t) {
  if (t.size() != 15 || t[8] != '_') return t;
  return t.substr(0, 4) + "-" + t.substr(4, 2) + "-" + t.substr(6, 2) + " " + t.substr(9, 2) +
         ":" + t.substr(11, 2) + ":" + t.substr(13, 2);
}

std::string joined(const std::set<std::string>& items) {
  std::string out;
  for (const std::string& i : items) out += (out.empty() ? "" : ", ") + i;
  return out.empty() ? "none recorded" : out;
}

}  // namespace

bool add_disc_proof(const DiscSet& set, DiscImage& image, std::string& message) {
  std::unique_ptr<char[]> buffer;
  std::set<int> ingestions;
  std::set<std::string> cards, serials;
  std::string first, last;
  int known = 0, hashed = 0, unlisted = 0;
  image.manifest.clear();
  for (const ImageFile& f : image.files) {
    // The manifest's form has no room for a line break in a path.
    if (f.path.find_first_of("\r\n") != std::string::npos) {
      ++unlisted;
      continue;
    }
    Hash128 hash;
    auto origin = set.origins.find(f.source);
    if (origin != set.origins.end()) {
      const FileOrigin& o = origin->second;
      hash = o.hash;
      ++known;
      if (o.ingestion_id >= 0) ingestions.insert(o.ingestion_id);
      if (!o.card_label.empty() || !o.card_uuid.empty())
        cards.insert((o.card_label.empty() ? "(no label)" : o.card_label) + " (UUID " +
                     (o.card_uuid.empty() ? "unknown" : o.card_uuid) + ")");
      if (!o.camera_serial.empty()) serials.insert(o.camera_serial);
      if (!o.captured.empty()) {
        if (first.empty() || o.captured < first) first = o.captured;
        if (last.empty() || o.captured > last) last = o.captured;
      }
    } else {
      if (!buffer) buffer = std::make_unique<char[]>(kHashBuffer);
      if (!hash_file(f.source, hash, buffer.get(), kHashBuffer)) {
        message = format_limited(1000, "Failed to add file %s", f.source.c_str());
        return false;
      }
      ++hashed;
    }
    image.manifest += hash.hex() + "  " + f.path + "\n";
  }

  std::string ids;
  for (int id : ingestions) ids += (ids.empty() ? "" : ", ") + std::to_string(id);
  char written[32] = "";
  const std::time_t now = std::time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local))
    std::strftime(written, sizeof written, "%Y-%m-%d %H:%M:%S", &local);
  std::string text =
      format_limited(4000, "Disc %s (%s), written %s\n", image.volume_id.c_str(),
                     set.title.c_str(), written) +
      format_limited(1000,
                     "Files: %zu (%d with hashes from the ingest ledger, %d hashed while writing",
                     image.files.size(), known, hashed) +
      (unlisted ? format_limited(100, ", %d not listed: a line break in the name", unlisted) : "") +
      ")\n" + "Ingestions: " + (ids.empty() ? "none recorded" : ids) + "\n" +
      "Cards: " + joined(cards) + "\n" + "Camera serials: " + joined(serials) + "\n" +
      "Capture dates: " +
      (first.empty() ? "none recorded" : capture_text(first) + " to " + capture_text(last)) + "\n" +
      "Check the files from the disc's root with: xxh128sum -c " + kDiscManifestName + "\n";
  // Many cards or serials could outgrow the room the plan kept for the text.
  if (text.size() > kProvenanceBytes) text = text.substr(0, kProvenanceBytes - 4) + "...\n";
  image.provenance = std::move(text);
  return true;
}

}  // namespace cw
