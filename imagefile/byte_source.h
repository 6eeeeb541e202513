// Random-access byte sources for the camera-file reader: a file on disk, an image on a
// connected camera ("ptp/" paths, read as a stream), and a buffer held in memory. The reader
// only opens, reads, seeks and asks for the position and the total size (to bound offsets).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace cw {

class CameraSource;

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to n bytes at the current position; returns the count read (0 at the end).
  virtual std::size_t read(void* buffer, std::size_t n) = 0;
  // Moves to an absolute position; false on a seek error.
  virtual bool seek(std::uint64_t position) = 0;
  virtual std::uint64_t tell() const = 0;
  // Total number of bytes the source can give.
  virtual std::uint64_t size() const = 0;
};

// A file opened for binary reading; null when it cannot be opened.
std::unique_ptr<ByteSource> open_file_source(const std::string& path);
// An image of the camera `cameras` has open (path beginning with "ptp/"); null when the camera
// cannot open it or there is no camera (null).
std::unique_ptr<ByteSource> open_camera_byte_source(CameraSource* cameras,
                                                    const std::string& path);
// A source over bytes the creator hands in (the source keeps its own copy).
std::unique_ptr<ByteSource> make_buffer_source(std::string bytes);

// Picks the kind by the path: camera paths go to `cameras` (null: no camera), others to the
// file.
std::unique_ptr<ByteSource> open_byte_source(const std::string& path, CameraSource* cameras);

}  // namespace cw
