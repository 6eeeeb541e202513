// A camera reached over the picture-transfer protocol, seen the way the engine sees a card:
// a list of image paths beginning with "ptp/", examination of such a path, and a readable
// stream per image. The real implementation sits on libgphoto2; tests install a fake.
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
  // The images of the camera with this friendly name (a leading "ptp/" is skipped), as
  // "ptp/" + file name. Empty when the camera is gone.
  virtual std::vector<std::string> images_for_device(const std::string& name) = 0;
  // Size and time of a "ptp/" path of the open camera; false when unknown.
  virtual bool stat(const std::string& path, CameraFileInfo& info) = 0;
  // Opens an image's stream; null when it cannot be opened.
  virtual std::unique_ptr<CameraStream> open(const std::string& path) = 0;
};

// No camera: empty lists, nothing can be opened. In effect until a real source is installed.
class NoCameraSource : public CameraSource {
 public:
  std::vector<std::pair<std::string, std::string>> devices() override { return {}; }
  std::vector<std::string> images_for_device(const std::string&) override { return {}; }
  bool stat(const std::string&, CameraFileInfo&) override { return false; }
  std::unique_ptr<CameraStream> open(const std::string&) override { return nullptr; }
};

// The installed camera source (not owned; nullptr restores NoCameraSource).
void set_camera_source(CameraSource* source);
CameraSource& camera_source();

// True for paths that name a camera image ("ptp/…" or "ptp").
inline bool is_camera_path(const std::string& path) { return path.rfind("ptp", 0) == 0; }

}  // namespace cw
