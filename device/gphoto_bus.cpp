// libgphoto2 behind the camera table: detection, opening, listings, file information, partial
// reads and whole-file fetches, each libgphoto2 handle owned by one small RAII holder.
#include "device/gphoto_bus.h"

#include <fcntl.h>
#include <gphoto2/gphoto2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "foundation/log.h"
#include "platform/shared_library.h"

namespace cw {

namespace {

// The camera library (with the port library it loads), opened when cameras are first looked
// for: most runs of the program never talk to a camera. Its port functions are found through it.
#define CW_GPHOTO2_FUNCTIONS(X)                                                                   \
  X(gp_abilities_list_count) X(gp_abilities_list_detect) X(gp_abilities_list_free)                \
  X(gp_abilities_list_get_abilities) X(gp_abilities_list_load)                                    \
  X(gp_abilities_list_lookup_model) X(gp_abilities_list_new) X(gp_camera_exit)                    \
  X(gp_camera_file_get) X(gp_camera_file_get_info) X(gp_camera_file_read) X(gp_camera_init)       \
  X(gp_camera_folder_list_files) X(gp_camera_folder_list_folders)                                 \
  X(gp_camera_new) X(gp_camera_set_abilities) X(gp_camera_set_port_info) X(gp_camera_unref)       \
  X(gp_context_new) X(gp_context_set_cancel_func) X(gp_context_set_error_func)                    \
  X(gp_context_unref) X(gp_file_new_from_fd) X(gp_file_new_from_handler) X(gp_file_unref)         \
  X(gp_list_count) X(gp_list_free) X(gp_list_get_name) X(gp_list_get_value) X(gp_list_new)        \
  X(gp_port_info_get_path) X(gp_port_info_get_type) X(gp_port_info_list_count)                    \
  X(gp_port_info_list_free) X(gp_port_info_list_get_info) X(gp_port_info_list_load)               \
  X(gp_port_info_list_lookup_path) X(gp_port_info_list_new) X(gp_result_as_string)

CW_LIBRARY_TABLE(Gphoto2, CW_GPHOTO2_FUNCTIONS);

const Gphoto2* load_gphoto2(std::string& error) {
  return library_functions<Gphoto2>(CW_LIBGPHOTO2_SONAME, error);
}

// The library's functions once the drivers were loaded: everything below is reached after that.
const Gphoto2& gp() { return loaded_functions<Gphoto2>(CW_LIBGPHOTO2_SONAME); }

struct ContextUnref {
  void operator()(GPContext* c) const { gp().gp_context_unref(c); }
};
struct ListFree {
  void operator()(CameraList* l) const { gp().gp_list_free(l); }
};
struct PortListFree {
  void operator()(GPPortInfoList* l) const { gp().gp_port_info_list_free(l); }
};
struct FileUnref {
  void operator()(CameraFile* f) const { gp().gp_file_unref(f); }
};
using ContextPtr = std::unique_ptr<GPContext, ContextUnref>;
using ListPtr = std::unique_ptr<CameraList, ListFree>;
using PortListPtr = std::unique_ptr<GPPortInfoList, PortListFree>;
using FilePtr = std::unique_ptr<CameraFile, FileUnref>;

ListPtr new_list() {
  CameraList* list = nullptr;
  return ListPtr(gp().gp_list_new(&list) >= GP_OK ? list : nullptr);
}

// A context whose error messages (the drivers' own words, often naming the file and the
// system's reason) are kept in `sink`.
ContextPtr new_context(std::string* sink) {
  ContextPtr context(gp().gp_context_new());
  if (context)
    gp().gp_context_set_error_func(
        context.get(),
        [](GPContext*, const char* text, void* data) {
          *static_cast<std::string*>(data) = text ? text : "";
        },
        sink);
  return context;
}

void set_error(DeviceError& error, int code, const std::string& driver_message) {
  DeviceError::Kind kind = DeviceError::Kind::kOther;
  if (code == GP_ERROR_NOT_SUPPORTED) kind = DeviceError::Kind::kUnsupported;
  if (code == GP_ERROR_IO_USB_CLAIM || code == GP_ERROR_IO_LOCK || code == GP_ERROR_CAMERA_BUSY)
    kind = DeviceError::Kind::kBusy;
  std::string text = gp().gp_result_as_string(code);
  if (!driver_message.empty()) text += " - " + driver_message;
  error.set(kind, code, std::move(text));
}

PortListPtr load_ports(DeviceError& error) {
  GPPortInfoList* list = nullptr;
  int r = gp().gp_port_info_list_new(&list);
  PortListPtr ports(r >= GP_OK ? list : nullptr);
  if (r >= GP_OK) r = gp().gp_port_info_list_load(list);
  if (r < GP_OK) {
    set_error(error, r, "the port drivers cannot be loaded (IOLIBS=" +
                            std::string(std::getenv("IOLIBS") ? std::getenv("IOLIBS") : "") +
                            ")");
    return nullptr;
  }
  return ports;
}

// The memory fetches are received into. A fetched file handed back when it is done with, so
// that the next fetch writes into memory that is already there instead of having the system
// find and clear fresh pages for every file.
struct SpareBuffer {
  std::mutex lock;
  std::string bytes;
};

class FetchedMemory : public FetchedFile {
 public:
  FetchedMemory(std::string bytes, std::shared_ptr<SpareBuffer> spare)
      : bytes_(std::move(bytes)), spare_(std::move(spare)) {}
  ~FetchedMemory() override {
    std::lock_guard<std::mutex> hold(spare_->lock);
    if (bytes_.capacity() > spare_->bytes.capacity()) spare_->bytes.swap(bytes_);
  }
  FetchedMemory(const FetchedMemory&) = delete;
  FetchedMemory& operator=(const FetchedMemory&) = delete;
  std::uint64_t size() const override { return bytes_.size(); }
  long long read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    if (offset >= bytes_.size()) return 0;
    const std::size_t k = std::min<std::size_t>(n, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, k);
    return static_cast<long long>(k);
  }

 private:
  std::string bytes_;
  std::shared_ptr<SpareBuffer> spare_;
};

// A file fetched into an unnamed temporary file, for files too large for memory. It owns the
// descriptor from the start, so that every failure on the way closes it.
class FetchedSpool : public FetchedFile {
 public:
  explicit FetchedSpool(int fd) : fd_(fd) {}
  ~FetchedSpool() override { ::close(fd_); }
  FetchedSpool(const FetchedSpool&) = delete;
  FetchedSpool& operator=(const FetchedSpool&) = delete;
  // Takes the size of what was written; false (errno set) when it cannot be examined.
  bool finish() {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    size_ = static_cast<std::uint64_t>(st.st_size);
    return true;
  }
  std::uint64_t size() const override { return size_; }
  long long read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    ssize_t got;
    do got = ::pread(fd_, buffer, n, static_cast<off_t>(offset));
    while (got < 0 && errno == EINTR);
    return got;
  }

 private:
  int fd_;
  std::uint64_t size_ = 0;
};

// Where a fetch into memory puts the bytes the library hands over, piece by piece, and when it
// has enough of them.
struct Receiver {
  std::string* bytes;
  std::uint64_t limit;
  bool* enough;
};

int receive(void* data, unsigned char* piece, std::uint64_t* length) {
  Receiver& r = *static_cast<Receiver*>(data);
  r.bytes->append(reinterpret_cast<const char*>(piece), *length);
  if (r.bytes->size() >= r.limit) *r.enough = true;
  return GP_OK;
}

// True when a port list holds a device that may be a camera: a USB device of its own, as
// opposed to the bare "usb:" entry the USB driver lists when it found none. Detection asks
// every camera driver about every USB device, so it is skipped when there is none: on such a
// machine the USB driver would search the bus again for each of some 2,500 camera models.
bool has_usb_devices(GPPortInfoList* ports) {
  const int count = gp().gp_port_info_list_count(ports);
  for (int i = 0; i < count; ++i) {
    GPPortInfo info;
    GPPortType type;
    char* path = nullptr;
    if (gp().gp_port_info_list_get_info(ports, i, &info) < GP_OK ||
        gp().gp_port_info_get_type(info, &type) < GP_OK ||
        gp().gp_port_info_get_path(info, &path) < GP_OK)
      continue;
    if ((type == GP_PORT_USB || type == GP_PORT_USB_DISK_DIRECT || type == GP_PORT_USB_SCSI) &&
        path && std::strcmp(path, "usb:") != 0)
      return true;
  }
  return false;
}

// An unnamed file in the temporary folder, gone when closed; -1 on failure.
int open_spool_file() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = tmp && *tmp ? tmp : "/tmp";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string name = dir + "/cardwright-camera-XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

class GphotoDevice : public CameraDevice {
 public:
  GphotoDevice() : context_(new_context(&message_)) {
    if (gp().gp_camera_new(&camera_) < GP_OK) camera_ = nullptr;
    if (context_)
      gp().gp_context_set_cancel_func(
          context_.get(),
          [](GPContext*, void* data) {
            bool* enough = *static_cast<bool**>(data);
            return enough && *enough ? GP_CONTEXT_FEEDBACK_CANCEL : GP_CONTEXT_FEEDBACK_OK;
          },
          &cancel_);
  }
  ~GphotoDevice() override {
    if (!camera_) return;
    if (initialised_) gp().gp_camera_exit(camera_, context_.get());
    gp().gp_camera_unref(camera_);
  }
  GphotoDevice(const GphotoDevice&) = delete;
  GphotoDevice& operator=(const GphotoDevice&) = delete;

  bool init(CameraAbilitiesList* drivers, GPPortInfoList* ports, const CameraPort& port,
            DeviceError& error) {
    if (!camera_ || !context_) {
      set_error(error, GP_ERROR_NO_MEMORY, "");
      return false;
    }
    message_.clear();
    const int model = gp().gp_abilities_list_lookup_model(drivers, port.model.c_str());
    if (model < GP_OK) {
      set_error(error, model, "no driver for the model " + port.model);
      return false;
    }
    CameraAbilities abilities;
    if (!check(gp().gp_abilities_list_get_abilities(drivers, model, &abilities), error) ||
        !check(gp().gp_camera_set_abilities(camera_, abilities), error))
      return false;
    const int index = gp().gp_port_info_list_lookup_path(ports, port.port.c_str());
    GPPortInfo info;
    if (!check(index, error) ||
        !check(gp().gp_port_info_list_get_info(ports, index, &info), error) ||
        !check(gp().gp_camera_set_port_info(camera_, info), error) ||
        !check(gp().gp_camera_init(camera_, context_.get()), error))
      return false;
    initialised_ = true;
    return true;
  }

  bool list_folders(const std::string& folder, std::vector<std::string>& names,
                    DeviceError& error) override {
    return listing(gp().gp_camera_folder_list_folders, folder, names, error);
  }

  bool list_files(const std::string& folder, std::vector<std::string>& names,
                  DeviceError& error) override {
    return listing(gp().gp_camera_folder_list_files, folder, names, error);
  }

  bool file_info(const std::string& folder, const std::string& name, CameraFileInfo& info,
                 bool& has_size, DeviceError& error) override {
    ::CameraFileInfo found;
    std::memset(&found, 0, sizeof found);
    message_.clear();
    if (!check(gp().gp_camera_file_get_info(camera_, folder.c_str(), name.c_str(), &found,
                                            context_.get()),
               error))
      return false;
    has_size = (found.file.fields & GP_FILE_INFO_SIZE) != 0;
    info.size = found.file.size;
    info.modified = (found.file.fields & GP_FILE_INFO_MTIME) ? found.file.mtime : 0;
    return true;
  }

  long long read_part(const std::string& folder, const std::string& name, std::uint64_t offset,
                      void* buffer, std::size_t n, DeviceError& error) override {
    std::uint64_t size = n;
    message_.clear();
    if (!check(gp().gp_camera_file_read(camera_, folder.c_str(), name.c_str(), GP_FILE_TYPE_NORMAL,
                                        offset, static_cast<char*>(buffer), &size, context_.get()),
               error))
      return -1;
    return static_cast<long long>(std::min<std::uint64_t>(size, n));
  }

  std::unique_ptr<FetchedFile> fetch(const std::string& folder, const std::string& name,
                                     std::uint64_t size, std::uint64_t limit,
                                     DeviceError& error) override {
    message_.clear();
    std::unique_ptr<FetchedFile> fetched;
    if (limit >= size && size > kWholeFetchInMemory)
      fetched = fetch_to_spool(folder, name, error);
    else
      fetched = fetch_to_memory(folder, name, std::min(limit, size), error);
    if (!fetched) return nullptr;
    const std::uint64_t wanted = limit >= size ? size : limit;
    if (fetched->size() < wanted || (limit >= size && fetched->size() != size)) {
      error.set(DeviceError::Kind::kOther, 0,
                "the camera gave " + std::to_string(fetched->size()) + " bytes of " +
                    std::to_string(size));
      return nullptr;
    }
    return fetched;
  }

 private:
  bool check(int result, DeviceError& error) {
    if (result >= GP_OK) return true;
    set_error(error, result, message_);
    return false;
  }

  // The names a folder listing of the library gives (its subfolders or its files).
  using ListCall = int (*)(Camera*, const char*, CameraList*, GPContext*);
  bool listing(ListCall call, const std::string& folder, std::vector<std::string>& names,
               DeviceError& error) {
    names.clear();
    ListPtr list = new_list();
    message_.clear();
    if (!list) {
      set_error(error, GP_ERROR_NO_MEMORY, "");
      return false;
    }
    if (!check(call(camera_, folder.c_str(), list.get(), context_.get()), error)) return false;
    const int count = gp().gp_list_count(list.get());
    if (!check(count, error)) return false;
    for (int i = 0; i < count; ++i) {
      const char* name = nullptr;
      if (!check(gp().gp_list_get_name(list.get(), i, &name), error)) return false;
      names.emplace_back(name ? name : "");
    }
    return true;
  }

  // Fetches into memory until `limit` bytes are in: the transfer is then cancelled (the
  // library asks the context between pieces), which cameras and drivers answer either by
  // stopping with a "cancelled" result or by finishing the piece at hand.
  std::unique_ptr<FetchedFile> fetch_to_memory(const std::string& folder, const std::string& name,
                                               std::uint64_t limit, DeviceError& error) {
    std::string bytes;
    {
      std::lock_guard<std::mutex> hold(spare_->lock);
      bytes.swap(spare_->bytes);
    }
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(limit));
    bool enough = false;
    Receiver receiver{&bytes, limit, &enough};
    CameraFileHandler handler{nullptr, nullptr, receive};
    CameraFile* raw = nullptr;
    if (!check(gp().gp_file_new_from_handler(&raw, &handler, &receiver), error)) return nullptr;
    FilePtr file(raw);
    cancel_ = &enough;
    const int r = gp().gp_camera_file_get(camera_, folder.c_str(), name.c_str(),
                                          GP_FILE_TYPE_NORMAL, raw, context_.get());
    cancel_ = nullptr;
    if (!(enough && r == GP_ERROR_CANCEL) && !check(r, error)) return nullptr;
    return std::make_unique<FetchedMemory>(std::move(bytes), spare_);
  }

  std::unique_ptr<FetchedFile> fetch_to_spool(const std::string& folder, const std::string& name,
                                              DeviceError& error) {
    const int fd = open_spool_file();
    if (fd < 0) {
      error.set(DeviceError::Kind::kOther, errno,
                std::string("no temporary file for a large camera file: ") + std::strerror(errno));
      return nullptr;
    }
    auto spool = std::make_unique<FetchedSpool>(fd);
    // The library closes the descriptor it is given, so it writes to a duplicate.
    CameraFile* raw = nullptr;
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0 || gp().gp_file_new_from_fd(&raw, copy) < GP_OK) {
      if (copy >= 0) ::close(copy);
      error.set(DeviceError::Kind::kOther, errno, "no temporary file for a large camera file");
      return nullptr;
    }
    FilePtr file(raw);
    if (!check(gp().gp_camera_file_get(camera_, folder.c_str(), name.c_str(), GP_FILE_TYPE_NORMAL,
                                       raw, context_.get()),
               error))
      return nullptr;
    file.reset();
    if (!spool->finish()) {
      error.set(DeviceError::Kind::kOther, errno, std::strerror(errno));
      return nullptr;
    }
    return spool;
  }

  std::shared_ptr<SpareBuffer> spare_ = std::make_shared<SpareBuffer>();
  std::string message_;  // the driver's last error message; before context_, which uses it
  bool* cancel_ = nullptr;  // while a fetch runs: true once it has enough
  ContextPtr context_;
  Camera* camera_ = nullptr;
  bool initialised_ = false;
};

}  // namespace

struct GphotoBus::Drivers {
  ~Drivers() {
    if (list) gp().gp_abilities_list_free(list);
  }
  CameraAbilitiesList* list = nullptr;
  // The ports of the last detection; opening a camera found there looks its port up here
  // rather than having every port driver look for devices again.
  PortListPtr ports;
};

GphotoBus::GphotoBus() = default;
GphotoBus::~GphotoBus() = default;

bool GphotoBus::load_drivers(DeviceError& error) {
  if (drivers_) return true;
  if (std::string why; !load_gphoto2(why)) {
    error.set(DeviceError::Kind::kOther, GP_ERROR, "no camera library: " + why);
    return false;
  }
  std::string message;
  ContextPtr context = new_context(&message);
  auto drivers = std::make_unique<Drivers>();
  int r = gp().gp_abilities_list_new(&drivers->list);
  if (r >= GP_OK) r = gp().gp_abilities_list_load(drivers->list, context.get());
  const char* camlibs = std::getenv("CAMLIBS");
  if (r >= GP_OK && gp().gp_abilities_list_count(drivers->list) <= 0) r = GP_ERROR_MODEL_NOT_FOUND;
  if (r < GP_OK) {
    set_error(error, r,
              "libgphoto2 found no camera drivers (CAMLIBS=" + std::string(camlibs ? camlibs : "") +
                  ") " + message);
    return false;
  }
  drivers_ = std::move(drivers);
  return true;
}

bool GphotoBus::detect(std::vector<CameraPort>& ports, DeviceError& error) {
  ports.clear();
  if (!load_drivers(error)) return false;
  drivers_->ports = load_ports(error);
  if (!drivers_->ports) return false;
  if (has_usb_devices(drivers_->ports.get()) && !detect_usb(ports, error)) return false;
  for (const std::string& folder : camera_folders_from_environment())
    ports.push_back(CameraPort{kFolderCameraModel, "disk:" + folder, folder});
  return true;
}

bool GphotoBus::detect_usb(std::vector<CameraPort>& ports, DeviceError& error) {
  std::string message;
  ContextPtr context = new_context(&message);
  ListPtr found = new_list();
  if (!found) {
    set_error(error, GP_ERROR_NO_MEMORY, "");
    return false;
  }
  const int r = gp().gp_abilities_list_detect(drivers_->list, drivers_->ports.get(), found.get(),
                                              context.get());
  if (r < GP_OK) {
    set_error(error, r, message);
    return false;
  }
  for (int i = 0; i < gp().gp_list_count(found.get()); ++i) {
    const char* model = nullptr;
    const char* port = nullptr;
    gp().gp_list_get_name(found.get(), i, &model);
    gp().gp_list_get_value(found.get(), i, &port);
    if (!model || !port) continue;
    const std::string where = port;
    // "usb:" alone is the generic entry, not a camera; mounted cards that the library offers
    // as "disk:" cameras are ingested as cards.
    if (where == "usb:" || where.rfind("disk:", 0) == 0) continue;
    ports.push_back(CameraPort{model, where, where});
  }
  return true;
}

std::unique_ptr<CameraDevice> GphotoBus::open(const CameraPort& port, DeviceError& error) {
  if (!load_drivers(error)) return nullptr;
  if (!drivers_->ports && !(drivers_->ports = load_ports(error))) return nullptr;
  auto device = std::make_unique<GphotoDevice>();
  if (!device->init(drivers_->list, drivers_->ports.get(), port, error)) return nullptr;
  return device;
}

std::vector<std::string> camera_folders_from_environment() {
  std::vector<std::string> folders;
  const char* value = std::getenv(kCameraFoldersVariable);
  if (!value) return folders;
  const std::string list = value;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const std::string entry = list.substr(start, end - start);
    start = end + 1;
    if (entry.empty()) continue;
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(entry, ec).lexically_normal();
    std::string text = path.string();
    // The camera's root is the folder itself; a trailing "/" would double in its paths.
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    if (ec || !std::filesystem::is_directory(path, ec)) {
      log_printf("%s: %s is not a folder; no camera for it", kCameraFoldersVariable,
                 entry.c_str());
      continue;
    }
    folders.push_back(text);
  }
  return folders;
}

}  // namespace cw
