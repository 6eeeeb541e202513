// A camera reached over the picture-transfer protocol, seen the way the engine sees a card:
// a list of image paths beginning with "ptp/", examination of such a path, and a readable
// stream per image. The real implementation sits on libgphoto2 (device/); the session owns
// the one the program uses and hands it to the runs and tools that read "ptp/" paths, and tests
// hand them fakes. Whoever takes a source as a pointer reads null as "no camera".
//
// One camera is open at a time: the paths carry only the file name, so they mean something
// only for the camera that was walked last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace cw {

// A readable image stream from the camera. Reads return at most the bytes left; 0 at the end,
// -1 on error.
class CameraStream {
 public:
  virtual ~CameraStream() = default;
  virtual long long read(void* buffer, std::size_t n) = 0;
  virtual std::uint64_t size() const = 0;
};

struct CameraFileInfo {
  std::uint64_t size = 0;
  std::time_t modified = 0;
};

class CameraSource {
 public:
  virtual ~CameraSource() = default;
  // Identifiers and friendly names of the connected cameras.
  virtual std::vector<std::pair<std::string, std::string>> devices() = 0;
  // Opens the camera with this friendly name (a leading "ptp/" is skipped) for the walk and
  // the reads that follow. False with a message for the person at the machine when no such
  // camera is connected or it cannot be opened (another program holding it, say).
  virtual bool open_device(const std::string& name, std::string& message) = 0;
  // The images of the camera with this friendly name, opened as above, as "ptp/" + file name
  // in walk order. True with an empty list for a camera without images; false with a message
  // when the camera is gone, cannot be opened or cannot be walked.
  virtual bool images_for_device(const std::string& name, std::vector<std::string>& images,
                                 std::string& message) = 0;
  // The files below "DCIM" that the last walk could not list as images (a second file of a
  // name listed already), as their folder and name on the camera: they stay on the camera.
  virtual std::vector<std::string> left_out() { return {}; }
  // Size and time of a "ptp/" path of the open camera; false when unknown.
  virtual bool stat(const std::string& path, CameraFileInfo& info) = 0;
  // Opens an image's stream; null when it cannot be opened.
  virtual std::unique_ptr<CameraStream> open(const std::string& path) = 0;
  // Releases the open camera; streams already open stay readable until they are closed.
  virtual void close_device() = 0;
};

// The message for a camera name that no connected camera carries.
inline std::string camera_not_connected_message(const std::string& name) {
  return "No camera named " + name + " is connected.";
}

// No camera: empty lists, nothing can be opened. A session that was not asked for cameras
// holds one.
class NoCameraSource : public CameraSource {
 public:
  std::vector<std::pair<std::string, std::string>> devices() override { return {}; }
  bool open_device(const std::string& name, std::string& message) override {
    message = camera_not_connected_message(name.rfind("ptp/", 0) == 0 ? name.substr(4) : name);
    return false;
  }
  bool images_for_device(const std::string& name, std::vector<std::string>&,
                         std::string& message) override {
    return open_device(name, message);
  }
  bool stat(const std::string&, CameraFileInfo&) override { return false; }
  std::unique_ptr<CameraStream> open(const std::string&) override { return nullptr; }
  void close_device() override {}
};

// Size and time of a "ptp/" path of the camera `cameras` has open; false when unknown or
// without a camera (null).
inline bool stat_camera_path(CameraSource* cameras, const std::string& path,
                             CameraFileInfo& info) {
  return cameras && cameras->stat(path, info);
}

// The stream of a "ptp/" path; null when it cannot be opened or without a camera (null).
inline std::unique_ptr<CameraStream> open_camera_path(CameraSource* cameras,
                                                      const std::string& path) {
  return cameras ? cameras->open(path) : nullptr;
}

// True for paths that name a camera image ("ptp/…" or "ptp").
inline bool is_camera_path(const std::string& path) { return path.rfind("ptp", 0) == 0; }

}  // namespace cw
