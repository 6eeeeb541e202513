// Cameras through libgphoto2: the cameras it detects on USB, and folders it serves as cameras
// through its "Directory Browse" driver, one for each folder named in the environment variable
// CARDWRIGHT_CAMERA_FOLDERS (DIR[:DIR...]). The folder cameras let tests, demonstrations and
// the benchmark go through the real library without a camera at hand.
//
// libgphoto2 finds its drivers in the folders it was built with; the environment variables
// CAMLIBS and IOLIBS, when set, name other folders.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/camera_device.h"

namespace cw {

// The model name of libgphoto2's folder camera.
inline constexpr const char* kFolderCameraModel = "Directory Browse";
// The environment variable naming folders to serve as cameras.
inline constexpr const char* kCameraFoldersVariable = "CARDWRIGHT_CAMERA_FOLDERS";

// Files up to this size are fetched whole into memory; larger ones into a temporary file.
inline constexpr std::uint64_t kWholeFetchInMemory = 64ull * 1024 * 1024;

class GphotoBus : public CameraBus {
 public:
  GphotoBus();
  ~GphotoBus() override;
  GphotoBus(const GphotoBus&) = delete;
  GphotoBus& operator=(const GphotoBus&) = delete;

  bool detect(std::vector<CameraPort>& ports, DeviceError& error) override;
  std::unique_ptr<CameraDevice> open(const CameraPort& port, DeviceError& error) override;

 private:
  // The camera drivers' list, loaded on first use and kept: loading it takes most of a second.
  struct Drivers;
  bool load_drivers(DeviceError& error);
  // Appends the cameras the drivers recognise among the USB devices of the last port list.
  bool detect_usb(std::vector<CameraPort>& ports, DeviceError& error);
  std::unique_ptr<Drivers> drivers_;
};

// The folders of CARDWRIGHT_CAMERA_FOLDERS as absolute paths, in order; empty entries and
// entries that are not folders are left out (the latter with a log line).
std::vector<std::string> camera_folders_from_environment();

}  // namespace cw
