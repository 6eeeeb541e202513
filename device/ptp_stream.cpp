// Camera file streams: the windowed partial-read stream, the fetching stream for cameras
// without partial reads, and the choice between them.
#include "device/ptp_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "foundation/log.h"

namespace cw {

namespace {

// Reads served from a fetched copy hand out at most this much at a time. The copy loop writes
// what it reads, and on current Linux kernels writes of 1 MiB and more into the page cache cost
// several times the processor time of writes half that size.
constexpr std::size_t kFetchedReadPiece = 512 * 1024;

// What both kinds of stream share: the file, its size, the position and the first failure,
// after which every read answers -1.
class FileStream : public CameraStream {
 public:
  FileStream(std::shared_ptr<OpenCamera> camera, CameraFileRef file, std::uint64_t size)
      : camera_(std::move(camera)), file_(std::move(file)), size_(size) {}
  std::uint64_t size() const override { return size_; }

  long long read(void* buffer, std::size_t n) override {
    if (failed_) return -1;
    if (pos_ >= size_ || n == 0) return 0;
    return read_some(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - pos_)));
  }

 protected:
  // Reads 1 to `n` bytes, all of them before the end of the file.
  virtual long long read_some(void* buffer, std::size_t n) = 0;

  long long fail() {
    if (error_.kind == DeviceError::Kind::kNone)
      error_.set(DeviceError::Kind::kOther, 0,
                 "the camera gave no data before the end of the file");
    report_camera_file_error("reading", file_, error_);
    failed_ = true;
    return -1;
  }

  std::shared_ptr<OpenCamera> camera_;
  CameraFileRef file_;
  std::uint64_t size_;
  std::uint64_t pos_ = 0;
  DeviceError error_;

 private:
  bool failed_ = false;
};

class PartialReadStream : public FileStream {
 public:
  using FileStream::FileStream;

  // Reads the window at the current position; the camera's lock must be held. False with
  // `error_` set, or with it empty when the camera answered with no bytes before the end.
  bool fill_window_locked() {
    window_.resize(static_cast<std::size_t>(
        std::min<std::uint64_t>(kReadAheadWindow, size_ - pos_)));
    const long long got = read_device(window_.data(), window_.size());
    if (got <= 0) {
      window_.clear();
      return false;
    }
    window_.resize(static_cast<std::size_t>(got));
    window_start_ = pos_;
    return true;
  }

  const DeviceError& error() const { return error_; }

 private:
  long long read_some(void* buffer, std::size_t n) override {
    if (!in_window()) {
      std::lock_guard<std::mutex> hold(camera_->lock);
      if (n >= kReadAheadWindow) return take(read_device(buffer, n));
      if (!fill_window_locked()) return fail();
    }
    const std::size_t at = static_cast<std::size_t>(pos_ - window_start_);
    const std::size_t k = std::min(n, window_.size() - at);
    std::memcpy(buffer, window_.data() + at, k);
    pos_ += k;
    return static_cast<long long>(k);
  }

  bool in_window() const {
    return !window_.empty() && pos_ >= window_start_ && pos_ - window_start_ < window_.size();
  }

  long long read_device(void* buffer, std::size_t n) {
    return camera_->device->read_part(file_.folder, file_.name, pos_, buffer, n, error_);
  }

  // A direct read's count; a read that ends early is an error: the camera examined the file
  // at `size_` bytes, so a copy that stopped short would be silently truncated.
  long long take(long long got) {
    if (got <= 0) return fail();
    pos_ += static_cast<std::uint64_t>(got);
    return got;
  }

  std::vector<char> window_;
  std::uint64_t window_start_ = 0;
};

// A file of a camera without partial reads, fetched in one transfer at the first read. A small
// first read (the image reader looking for metadata) fetches only the file's first part; should
// the reader go beyond it, the whole file is fetched then. The copy loop's first read is large
// and fetches the whole file at once. So naming an image does not cost a whole transfer.
class FetchingStream : public FileStream {
 public:
  using FileStream::FileStream;

 private:
  long long read_some(void* buffer, std::size_t n) override {
    if (!fetched_ || pos_ >= fetched_->size()) {
      const std::uint64_t limit = !fetched_ && n < kReadAheadWindow ? kReadAheadWindow : size_;
      std::lock_guard<std::mutex> hold(camera_->lock);
      fetched_ = camera_->device->fetch(file_.folder, file_.name, size_, limit, error_);
      if (!fetched_) return fail();
    }
    const long long got = fetched_->read_at(pos_, buffer, std::min(n, kFetchedReadPiece));
    if (got <= 0) {
      error_.set(DeviceError::Kind::kOther, errno, "the fetched copy cannot be read");
      return fail();
    }
    pos_ += static_cast<std::uint64_t>(got);
    return got;
  }

  std::unique_ptr<FetchedFile> fetched_;
};

class EmptyStream : public CameraStream {
 public:
  long long read(void*, std::size_t) override { return 0; }
  std::uint64_t size() const override { return 0; }
};

}  // namespace

void report_camera_file_error(const char* operation, const CameraFileRef& file,
                              const DeviceError& error) {
  log_printf("PTP -- %s \"%s\" (%s/%s) failed (%d: %s)", operation, file.path.c_str(),
             file.folder.c_str(), file.name.c_str(), error.code, error.text.c_str());
  ui_printf("\nERROR: %s %s on the camera (folder %s) failed: %s\n", operation,
            file.name.c_str(), file.folder.c_str(), error.text.c_str());
}

std::unique_ptr<CameraStream> open_camera_stream(const std::shared_ptr<OpenCamera>& camera,
                                                 const CameraFileRef& file, std::uint64_t size,
                                                 DeviceError& error) {
  if (size == 0) return std::make_unique<EmptyStream>();
  std::lock_guard<std::mutex> hold(camera->lock);
  if (camera->partial != OpenCamera::PartialReads::kNo) {
    // The first window doubles as the probe: a camera without partial reads says so here.
    auto stream = std::make_unique<PartialReadStream>(camera, file, size);
    if (stream->fill_window_locked()) {
      camera->partial = OpenCamera::PartialReads::kYes;
      return stream;
    }
    error = stream->error();
    if (error.kind != DeviceError::Kind::kUnsupported) {
      if (error.kind == DeviceError::Kind::kNone)
        error.set(DeviceError::Kind::kOther, 0, "the camera gave no data");
      return nullptr;
    }
    camera->partial = OpenCamera::PartialReads::kNo;
    log_printf("PTP -- the camera offers no partial reads; files are fetched in one transfer");
    error = DeviceError{};
  }
  return std::make_unique<FetchingStream>(camera, file, size);
}

}  // namespace cw
