// Disc writing on Linux: libisofs builds an ISO 9660 image (level 3, so files over 4 GiB
// fit, with Rock Ridge and Joliet names) and libburn writes it to a recorder with progress,
// buffer figures and cancel.
//
// LibburnSystem lists the optical recorders of the machine and opens one by its device address
// (a libburn "stdio:PATH" pseudo-drive address is taken too). ImageFolderSystem offers a single
// pseudo-recorder that writes each disc to its own image file, FOLDER/<disc label>.iso, through
// libburn's stdio: drive; an existing image is never replaced. Every disc and image is read
// back through libisofs against the manifest at its root before its write counts as done.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "disc/recorder.h"
#include "foundation/content_hash.h"

namespace cw {

class LibburnSystem : public DiscSystem {
 public:
  bool recorders(std::vector<RecorderInfo>& list, std::string& message) override;
  std::unique_ptr<Recorder> open(const std::string& id, OpenFailure& failure) override;
};

class ImageFolderSystem : public DiscSystem {
 public:
  explicit ImageFolderSystem(std::string folder) : folder_(std::move(folder)) {}
  bool recorders(std::vector<RecorderInfo>& list, std::string& message) override;
  std::unique_ptr<Recorder> open(const std::string& id, OpenFailure& failure) override;

 private:
  std::string folder_;
};

// What reading a disc image back against its own manifest found.
struct DiscCheck {
  std::string manifest;  // the manifest as the image holds it
  int ok = 0;
  int failed = 0;     // content differs from its line
  int missing = 0;    // listed, not in the image or unreadable
  int malformed = 0;  // lines that are not "HASH  PATH"
  int unlisted = 0;   // files in the image that the manifest does not list
  // "PATH: FAILED", "PATH: MISSING", "PATH: not in the manifest", "line N: malformed"
  std::vector<std::string> problems;
  struct File {
    std::string path;
    Hash128 hash;
    std::uint64_t size = 0;
  };
  std::vector<File> matched;  // the listed files whose content matched
  bool passed() const { return failed == 0 && missing == 0 && malformed == 0 && unlisted == 0; }
};

// Parses manifest text ("HASH  PATH" or "HASH *PATH" lines) into (path, hash) pairs; lines of
// another form are counted in `malformed` and named in `problems`.
std::vector<std::pair<std::string, Hash128>> parse_disc_manifest(
    const std::string& text, int& malformed, std::vector<std::string>& problems);

// Reads the ISO image file `iso` through libisofs: its manifest at the root, and every file it
// holds hashed against that manifest. False with `error` when the image or its manifest
// cannot be read; otherwise `check` tells what matched.
bool check_disc_image(const std::string& iso, DiscCheck& check, std::string& error);

// The same for the disc in the recorder at `address` (a device, or "stdio:PATH").
bool check_disc_in_drive(const std::string& address, DiscCheck& check, std::string& error);

// Counts and names ("PATH: not in the manifest") every file below `folder`, a copy of a disc's
// files, that `listed` (the manifest's paths) does not hold; the manifest and provenance at
// the folder's root are not counted. A folder that cannot be read is named and counted missing.
void check_unlisted_in_folder(const std::string& folder, const std::vector<std::string>& listed,
                              DiscCheck& check);

// Where ImageFolderSystem writes the disc with this label.
std::string image_file_path(const std::string& folder, const std::string& label);

}  // namespace cw
