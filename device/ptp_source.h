// The camera source the program installs: cameras found through a camera library, one of them
// open at a time, walked for its images and read through streams (ptp_stream.h).
//
// Walking a camera keeps the files that lie below a folder named "DCIM" (at any depth), in the
// camera's own order, each as "ptp/" + its file name, byte for byte. A second file of the same
// name in another folder would get the same path; the first one found keeps it, and the other
// is reported as left out (left_out()). Sizes and times are examined the first time they are
// asked for.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "device/camera_device.h"
#include "device/ptp_stream.h"
#include "platform/camera_source.h"

namespace cw {

// Friendly names are cut to this many bytes (on a character boundary).
inline constexpr std::size_t kMaxFriendlyName = 99;
// Names shorter than this find no camera.
inline constexpr std::size_t kMinDeviceName = 5;
// Folders deeper than this below the camera's root are not walked.
inline constexpr int kMaxWalkDepth = 32;

// The friendly name of each camera found, in order: its model, followed by its label in
// parentheses when several cameras share the model.
std::vector<std::string> friendly_names(const std::vector<CameraPort>& ports);

class PtpSource : public CameraSource {
 public:
  explicit PtpSource(std::unique_ptr<CameraBus> bus);
  ~PtpSource() override;
  PtpSource(const PtpSource&) = delete;
  PtpSource& operator=(const PtpSource&) = delete;

  std::vector<std::pair<std::string, std::string>> devices() override;
  bool open_device(const std::string& name, std::string& message) override;
  bool images_for_device(const std::string& name, std::vector<std::string>& images,
                         std::string& message) override;
  std::vector<std::string> left_out() override;
  bool stat(const std::string& path, CameraFileInfo& info) override;
  std::unique_ptr<CameraStream> open(const std::string& path) override;
  void close_device() override;

  // Receives "Getting image list..." and "Images: N" while a camera is walked, for a status
  // line; called on the walking thread.
  void set_progress(std::function<void(const std::string&)> progress);

 private:
  struct Record {
    CameraFileRef file;
    CameraFileInfo info;
    bool fetched = false;
  };

  bool open_locked(const std::string& name, std::string& message);
  void close_locked();
  bool walk(const std::string& folder, bool below_dcim, int depth, std::string& failed_folder,
            DeviceError& error);
  void add_record(const std::string& folder, const std::string& name);
  Record* find(const std::string& path);
  bool fetch_info_locked(Record& record);
  void progress(const std::string& text);

  std::unique_ptr<CameraBus> bus_;
  std::mutex mutex_;  // guards everything below
  std::function<void(const std::string&)> progress_;
  int device_count_ = 0;
  std::string open_name_;
  std::shared_ptr<OpenCamera> camera_;
  bool walked_ = false;
  std::vector<Record> records_;
  std::vector<std::string> left_out_;  // folder + "/" + name of each file left out
  std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace cw
