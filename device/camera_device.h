// The few operations the camera source needs from a camera library, as a small table of
// virtual calls: find the connected cameras, open one, list its folders and files, examine a
// file, read part of a file, fetch a file (or its first part) in one transfer. libgphoto2
// implements it (gphoto_bus.h); tests implement it with a camera made of strings in memory, so
// that the walk, the lookup and the chunked streams are tested without a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/camera_source.h"

namespace cw {

// Why a device operation failed: the library's own code and text, and what the source must
// tell apart.
struct DeviceError {
  enum class Kind {
    kNone,
    kUnsupported,  // the camera (or its driver) does not offer this operation
    kBusy,         // another program holds the camera
    kOther,
  };
  Kind kind = Kind::kNone;
  int code = 0;
  std::string text;

  void set(Kind k, int c, std::string t) {
    kind = k;
    code = c;
    text = std::move(t);
  }
};

// One camera as the library finds it.
struct CameraPort {
  std::string model;  // the library's model name, e.g. "Directory Browse"
  std::string port;   // where it is reached, e.g. "usb:001,005" or "disk:/srv/cam"; its id
  std::string label;  // told apart by this when cameras share a model (the port or the folder)
};

// A camera file, or its first part, fetched in one transfer; read at any offset.
class FetchedFile {
 public:
  virtual ~FetchedFile() = default;
  virtual std::uint64_t size() const = 0;  // the bytes fetched
  // Up to `n` bytes at `offset`: the count (0 at the end of what was fetched), -1 on error.
  virtual long long read_at(std::uint64_t offset, void* buffer, std::size_t n) = 0;
};

// An open camera. Folders are absolute camera paths ("/", "/DCIM", "/DCIM/100CANON").
class CameraDevice {
 public:
  virtual ~CameraDevice() = default;
  virtual bool list_folders(const std::string& folder, std::vector<std::string>& names,
                            DeviceError& error) = 0;
  virtual bool list_files(const std::string& folder, std::vector<std::string>& names,
                          DeviceError& error) = 0;
  // Size and modification time; `has_size` false when the camera does not give the size.
  virtual bool file_info(const std::string& folder, const std::string& name,
                         CameraFileInfo& info, bool& has_size, DeviceError& error) = 0;
  // Reads up to `n` bytes at `offset`: the count (0 at the end), or -1 with `error` set
  // (kind kUnsupported when the camera offers no partial reads).
  virtual long long read_part(const std::string& folder, const std::string& name,
                              std::uint64_t offset, void* buffer, std::size_t n,
                              DeviceError& error) = 0;
  // Fetches a file of `size` bytes (as examined) from its start, into memory or a temporary
  // file: all of it, or, with `limit` below `size`, at least its first `limit` bytes, the
  // transfer being cut short there. Null with `error` when the camera gave less than that.
  virtual std::unique_ptr<FetchedFile> fetch(const std::string& folder, const std::string& name,
                                             std::uint64_t size, std::uint64_t limit,
                                             DeviceError& error) = 0;
};

// The connected cameras and the way to open one.
class CameraBus {
 public:
  virtual ~CameraBus() = default;
  // False with `error` when the library cannot look for cameras at all.
  virtual bool detect(std::vector<CameraPort>& ports, DeviceError& error) = 0;
  virtual std::unique_ptr<CameraDevice> open(const CameraPort& port, DeviceError& error) = 0;
};

}  // namespace cw
