// Streams over camera files. Where the camera offers partial reads, a stream reads the file
// piece by piece: small reads (the image reader's) are served from a read-ahead window, large
// ones (the copy loop's 1 MiB) go to the camera directly. A camera without partial reads has
// the file fetched in one transfer at the first read: only its first part when that read is
// small (metadata), the whole file otherwise.
//
// The camera itself is shared by the source and every stream it handed out, with one lock
// that serialises all calls to it: a camera answers one request at a time, and the library's
// camera handle is not safe for concurrent use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/camera_device.h"

namespace cw {

struct OpenCamera {
  explicit OpenCamera(std::unique_ptr<CameraDevice> d) : device(std::move(d)) {}
  std::mutex lock;
  std::unique_ptr<CameraDevice> device;
  // Learnt from the first read; guarded by `lock`.
  enum class PartialReads { kUnknown, kYes, kNo } partial = PartialReads::kUnknown;
};

// Reads smaller than this are served from a window of this size; larger ones go straight to
// the camera. Small enough that reading an image's metadata costs little over USB. It is also
// the first part fetched for metadata from a camera without partial reads.
inline constexpr std::size_t kReadAheadWindow = 256 * 1024;

// One camera file: where it lies on the camera and how the engine names it.
struct CameraFileRef {
  std::string folder;  // camera folder, e.g. "/DCIM/100CANON"
  std::string name;    // file name on the camera
  std::string path;    // "ptp/" + name
};

// Opens a stream over a file of `size` bytes, or null with `error`. Read failures later on
// are reported (naming the file) when they happen; the stream then answers -1 from then on.
std::unique_ptr<CameraStream> open_camera_stream(const std::shared_ptr<OpenCamera>& camera,
                                                 const CameraFileRef& file, std::uint64_t size,
                                                 DeviceError& error);

// Logs a failed camera operation on a file with the library's code and text, and shows it in
// the text pane, so that the person at the machine learns which file could not be read.
void report_camera_file_error(const char* operation, const CameraFileRef& file,
                              const DeviceError& error);

}  // namespace cw
