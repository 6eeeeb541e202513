// Byte sources: files on disk, camera streams made seekable, and memory buffers.
#include "imagefile/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/camera_source.h"

namespace cw {
namespace {

// A file read through its descriptor, a window of it at a time: the reader's many small reads
// and seeks near each other (an image's tags lie mostly in its first kilobytes) are served
// from memory, and moving the position costs no call to the system.
class FileSource : public ByteSource {
 public:
  // The window is no larger than the file (as it was when opened): a small image's source asks
  // for a few kilobytes, not the whole window.
  FileSource(int fd, std::uint64_t size)
      : fd_(fd), size_(size), window_size_(std::clamp<std::uint64_t>(size, 4096, kWindow)) {}
  ~FileSource() override { ::close(fd_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  std::size_t read(void* buffer, std::size_t n) override {
    char* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
      if (pos_ < start_ || pos_ >= start_ + held_) {
        // A read larger than the window goes straight to the caller.
        if (n - done >= window_size_) {
          const ssize_t got = pread_all(out + done, n - done, pos_);
          if (got <= 0) break;
          done += static_cast<std::size_t>(got);
          pos_ += static_cast<std::uint64_t>(got);
          continue;
        }
        if (!fill()) break;
      }
      const std::size_t offset = static_cast<std::size_t>(pos_ - start_);
      const std::size_t take = std::min(n - done, held_ - offset);
      std::memcpy(out + done, window_.get() + offset, take);
      done += take;
      pos_ += take;
    }
    return done;
  }
  bool seek(std::uint64_t position) override {
    if (position > static_cast<std::uint64_t>(INT64_MAX)) return false;
    pos_ = position;
    return true;
  }
  std::uint64_t tell() const override { return pos_; }
  std::uint64_t size() const override { return size_; }

 private:
  static constexpr std::size_t kWindow = 64 * 1024;

  // Reads up to `n` bytes at `at`, on through short reads: the count (0 at the end), -1 on a
  // read error.
  ssize_t pread_all(char* out, std::size_t n, std::uint64_t at) const {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(at + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return done > 0 ? static_cast<ssize_t>(done) : -1;
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
  }
  // Loads the window that starts at the current position: false at the end or on an error.
  bool fill() {
    if (!window_) window_ = std::make_unique_for_overwrite<char[]>(window_size_);
    const ssize_t got = pread_all(window_.get(), window_size_, pos_);
    start_ = pos_;
    held_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    return held_ > 0;
  }

  int fd_;
  std::uint64_t size_;
  std::size_t window_size_;
  std::uint64_t pos_ = 0;
  std::unique_ptr<char[]> window_;
  std::uint64_t start_ = 0;  // the file offset of the window's first byte
  std::size_t held_ = 0;     // bytes in the window
};

// Bytes held in memory. A buffer has them all from the start; a camera stream (below) adds
// them as the reader needs them.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string bytes = {}) : bytes_(std::move(bytes)) {}
  std::size_t read(void* buffer, std::size_t n) override {
    const std::uint64_t total = size();
    if (pos_ >= total) return 0;
    if (n > total - pos_) n = static_cast<std::size_t>(total - pos_);
    fill_to(pos_ + n);
    if (pos_ >= bytes_.size()) return 0;
    const std::size_t avail = bytes_.size() - static_cast<std::size_t>(pos_);
    if (n > avail) n = avail;
    std::memcpy(buffer, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  bool seek(std::uint64_t position) override {
    pos_ = position;
    return true;
  }
  std::uint64_t tell() const override { return pos_; }
  std::uint64_t size() const override { return bytes_.size(); }

 protected:
  // Makes the first `end` bytes available when the source can.
  virtual void fill_to(std::uint64_t) {}
  std::string bytes_;

 private:
  std::uint64_t pos_ = 0;
};

// A camera gives a forward-only stream. The bytes read so far are kept, so that the reader can
// seek back freely; a seek forward reads on when the bytes are needed.
class CameraByteSource : public MemorySource {
 public:
  explicit CameraByteSource(std::unique_ptr<CameraStream> stream)
      : stream_(std::move(stream)), size_(stream_->size()) {}
  std::uint64_t size() const override { return size_; }

 private:
  void fill_to(std::uint64_t end) override {
    char chunk[65536];
    while (!failed_ && bytes_.size() < end) {
      const long long got = stream_->read(chunk, sizeof chunk);
      if (got <= 0) {
        failed_ = true;
        break;
      }
      bytes_.append(chunk, static_cast<std::size_t>(got));
    }
  }
  std::unique_ptr<CameraStream> stream_;
  std::uint64_t size_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<ByteSource> open_file_source(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FileSource>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<ByteSource> open_camera_byte_source(CameraSource* cameras,
                                                    const std::string& path) {
  std::unique_ptr<CameraStream> stream = open_camera_path(cameras, path);
  if (!stream) return nullptr;
  return std::make_unique<CameraByteSource>(std::move(stream));
}

std::unique_ptr<ByteSource> make_buffer_source(std::string bytes) {
  return std::make_unique<MemorySource>(std::move(bytes));
}

std::unique_ptr<ByteSource> open_byte_source(const std::string& path, CameraSource* cameras) {
  if (path.rfind("ptp/", 0) == 0) return open_camera_byte_source(cameras, path);
  return open_file_source(path);
}

}  // namespace cw
