// Disc writing on Linux: libisofs builds an ISO 9660 image (level 3, so files over 4 GiB
// fit, with Rock Ridge and Joliet names) and libburn writes it to a recorder with progress,
// buffer figures and cancel.
//
// LibburnSystem lists the optical recorders of the machine and opens one by its device address
// (a libburn "stdio:PATH" pseudo-drive address is taken too). ImageFolderSystem offers a single
// pseudo-recorder that writes each disc to its own image file, FOLDER/<disc label>.iso, through
// libburn's stdio: drive; an existing image is never replaced.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "disc/recorder.h"

namespace cw {

class LibburnSystem : public DiscSystem {
 public:
  bool recorders(std::vector<RecorderInfo>& list, std::string& message) override;
  std::unique_ptr<Recorder> open(const std::string& id, std::string& message) override;
};

class ImageFolderSystem : public DiscSystem {
 public:
  explicit ImageFolderSystem(std::string folder) : folder_(std::move(folder)) {}
  bool recorders(std::vector<RecorderInfo>& list, std::string& message) override;
  std::unique_ptr<Recorder> open(const std::string& id, std::string& message) override;

 private:
  std::string folder_;
};

// Where ImageFolderSystem writes the disc with this label.
std::string image_file_path(const std::string& folder, const std::string& label);

}  // namespace cw
