// The content of one planned disc as an image sees it: the folders to create and, for every
// file, its path on the disc and its source. The name rules are applied here, before any
// recorder is touched: a source path that is too long is refused, and a name already taken in
// its folder on the disc (a file beside a subfolder of the same name) gets "_001" … "_999"
// appended. A source that is no longer a file (a link put in its place since the plan) is
// left off the disc and named; the image's size is measured again on the files as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disc/burner.h"

namespace cw {

struct ImageFile {
  std::string path;    // on the disc, "/"-separated, without a leading "/"
  std::string source;  // the file it is read from; never changed
};

struct DiscImage {
  std::string volume_id;             // the disc's label, as planned ("1234A_002")
  std::vector<std::string> folders;  // every folder on the disc, parents before children
  std::vector<ImageFile> files;      // in plan order
  std::uint64_t size = 0;            // total of the files, as planned
  std::uint64_t image_size = 0;      // bound of the image's size with the files as they are now
  std::vector<SkippedEntry> skipped;  // planned sources that are no longer files
  // The disc's proof, written at its root: every file's hash as "HASH  PATH" lines
  // (kDiscManifestName) and where its files came from (kDiscProvenanceName).
  std::string manifest;
  std::string provenance;
};

inline constexpr const char* kDiscManifestName = "MANIFEST.xxh128";
inline constexpr const char* kDiscProvenanceName = "PROVENANCE.txt";

// The manifest and provenance texts of a laid-out disc: hashes from the set's origins, else
// read from the source now (the provenance within kProvenanceBytes). False with `message`
// when a source cannot be read.
bool add_disc_proof(const DiscSet& set, DiscImage& image, std::string& message);

// The source a planned file is read from: the set's root, the folder and the name joined.
std::string disc_source_path(const DiscSet& set, const DiscFolder& folder,
                             const std::string& name);

// Lays out disc `index` of the set (its proof is made apart, by add_disc_proof). False with
// `message` when the index is not a disc of the set, a name is too long or no free name is left.
bool lay_out_disc(const DiscSet& set, std::size_t index, DiscImage& image, std::string& message);

}  // namespace cw
