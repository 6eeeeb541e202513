// Byte sources: stdio files, camera streams made seekable, and memory buffers.
#include "imagefile/byte_source.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "platform/camera_source.h"

namespace cw {
namespace {

class FileSource : public ByteSource {
 public:
  FileSource(std::FILE* f, std::uint64_t size) : f_(f), size_(size) {}
  ~FileSource() override { std::fclose(f_); }
  std::size_t read(void* buffer, std::size_t n) override { return std::fread(buffer, 1, n, f_); }
  bool seek(std::uint64_t position) override {
    if (position > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return fseeko(f_, static_cast<off_t>(position), SEEK_SET) == 0;
  }
  std::uint64_t tell() const override {
    off_t p = ftello(f_);
    return p < 0 ? 0 : static_cast<std::uint64_t>(p);
  }
  std::uint64_t size() const override { return size_; }

 private:
  std::FILE* f_;
  std::uint64_t size_;
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
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return nullptr;
  struct stat st {};
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return nullptr;
  }
  return std::make_unique<FileSource>(f, static_cast<std::uint64_t>(st.st_size));
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
