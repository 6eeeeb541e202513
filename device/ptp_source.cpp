// The camera source: finding and opening a camera by its friendly name, the walk for images
// below "DCIM", the record list with its lookup, and examination and streams of its files.
#include "device/ptp_source.h"

#include <map>

#include "foundation/log.h"

namespace cw {

namespace {

std::string without_ptp_prefix(const std::string& name) {
  return name.rfind("ptp/", 0) == 0 ? name.substr(4) : name;
}

// Cuts `text` to at most `n` bytes without splitting a UTF-8 character.
std::string cut_utf8(std::string text, std::size_t n) {
  if (text.size() <= n) return text;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  text.resize(n);
  return text;
}

std::string child_folder(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string last_component(const std::string& folder) {
  return folder.substr(folder.find_last_of('/') + 1);
}

std::string code_and_text(const DeviceError& error) {
  return std::to_string(error.code) + ": " + error.text;
}

}  // namespace

std::vector<std::string> friendly_names(const std::vector<CameraPort>& ports) {
  std::map<std::string, int> per_model;
  for (const CameraPort& p : ports) ++per_model[p.model];
  std::vector<std::string> names;
  for (const CameraPort& p : ports) {
    std::string name = p.model;
    if (per_model[p.model] > 1) name += " (" + p.label + ")";
    names.push_back(cut_utf8(std::move(name), kMaxFriendlyName));
  }
  return names;
}

PtpSource::PtpSource(std::unique_ptr<CameraBus> bus) : bus_(std::move(bus)) {}

PtpSource::~PtpSource() { close_device(); }

void PtpSource::set_progress(std::function<void(const std::string&)> progress) {
  std::lock_guard<std::mutex> hold(mutex_);
  progress_ = std::move(progress);
}

void PtpSource::progress(const std::string& text) {
  if (progress_) progress_(text);
}

std::vector<std::pair<std::string, std::string>> PtpSource::devices() {
  std::lock_guard<std::mutex> hold(mutex_);
  std::vector<CameraPort> ports;
  DeviceError error;
  if (!bus_->detect(ports, error)) {
    log_printf("! Failed to look for cameras (%s)", code_and_text(error).c_str());
    return {};
  }
  device_count_ = static_cast<int>(ports.size());
  log_printf("%d portable device(s) found on the system", device_count_);
  std::vector<std::string> names = friendly_names(ports);
  std::vector<std::pair<std::string, std::string>> out;
  for (std::size_t i = 0; i < ports.size(); ++i) out.emplace_back(ports[i].port, names[i]);
  return out;
}

bool PtpSource::open_device(const std::string& name, std::string& message) {
  std::lock_guard<std::mutex> hold(mutex_);
  return open_locked(without_ptp_prefix(name), message);
}

bool PtpSource::open_locked(const std::string& name, std::string& message) {
  // A camera opened by a check just before the run is walked as it is; any later walk opens
  // it afresh, so that it sees pictures taken in between.
  if (camera_ && open_name_ == name && !walked_) return true;
  close_locked();
  std::vector<CameraPort> ports;
  DeviceError error;
  if (!bus_->detect(ports, error)) {
    log_printf("! Failed to look for cameras (%s)", code_and_text(error).c_str());
    message = "Cameras cannot be looked for (" + code_and_text(error) + ").";
    return false;
  }
  device_count_ = static_cast<int>(ports.size());
  std::vector<std::string> names = friendly_names(ports);
  std::size_t i = 0;
  while (i < names.size() && names[i] != name) ++i;
  if (i == names.size()) {
    log_printf("PTP -- no camera named \"%s\" among %zu", name.c_str(), names.size());
    message = camera_not_connected_message(name);
    return false;
  }
  std::unique_ptr<CameraDevice> device = bus_->open(ports[i], error);
  if (!device) {
    log_printf("PTP open device \"%s\" at %s failed (%s)", name.c_str(), ports[i].port.c_str(),
               code_and_text(error).c_str());
    if (error.kind == DeviceError::Kind::kBusy)
      message = "Camera " + name + " is held by another program (" + error.text +
                "). The desktop's file manager (gvfs) claims cameras as they are plugged in: "
                "unmount the camera in the file manager, or run \"gio mount -s gphoto2\", "
                "then try again.";
    else
      message = "Camera " + name + " cannot be opened (" + code_and_text(error) + ").";
    return false;
  }
  camera_ = std::make_shared<OpenCamera>(std::move(device));
  open_name_ = name;
  walked_ = false;
  log_printf("PTP open device \"%s\" at %s", name.c_str(), ports[i].port.c_str());
  return true;
}

bool PtpSource::images_for_device(const std::string& requested, std::vector<std::string>& images,
                                  std::string& message) {
  std::lock_guard<std::mutex> hold(mutex_);
  images.clear();
  const std::string name = without_ptp_prefix(requested);
  if (name.size() < kMinDeviceName) {
    log_printf("PTP -- device name \"%s\" is too short; no images", name.c_str());
    return true;
  }
  if (!open_locked(name, message)) return false;
  walked_ = true;
  records_.clear();
  index_.clear();
  left_out_.clear();
  progress("Getting image list...");
  std::string failed_folder;
  DeviceError error;
  if (!walk("/", false, 0, failed_folder, error)) {
    log_printf("! Failed to list folder %s of camera \"%s\" (%s)", failed_folder.c_str(),
               name.c_str(), code_and_text(error).c_str());
    message = "Camera " + name + ": folder " + failed_folder + " cannot be listed (" +
              error.text + ").";
    records_.clear();
    index_.clear();
    return false;
  }
  log_printf("numFilesToKeep = %zu", records_.size());
  for (const Record& r : records_) images.push_back(r.file.path);
  return true;
}

// Depth first: the files of a folder (when it lies below "DCIM"), then its subfolders.
bool PtpSource::walk(const std::string& folder, bool below_dcim, int depth,
                     std::string& failed_folder, DeviceError& error) {
  const bool below = below_dcim || last_component(folder) == "DCIM";
  std::vector<std::string> files, folders;
  {
    std::lock_guard<std::mutex> hold(camera_->lock);
    if ((below && !camera_->device->list_files(folder, files, error)) ||
        !camera_->device->list_folders(folder, folders, error)) {
      failed_folder = folder;
      return false;
    }
  }
  for (const std::string& name : files) add_record(folder, name);
  for (const std::string& name : folders) {
    const std::string child = child_folder(folder, name);
    if (depth >= kMaxWalkDepth) {
      log_printf("PTP -- folder %s lies too deep; not walked", child.c_str());
      continue;
    }
    if (!walk(child, below, depth + 1, failed_folder, error)) return false;
  }
  return true;
}

void PtpSource::add_record(const std::string& folder, const std::string& name) {
  // A name too long for the archive is judged by the scan, which names it.
  CameraFileRef file{folder, name, "ptp/" + name};
  if (name.empty()) {
    log_printf("PTP -- %s: file without a name; left out", folder.c_str());
    left_out_.push_back(child_folder(folder, name));
    return;
  }
  auto [it, added] = index_.emplace(file.path, records_.size());
  if (!added) {
    const Record& first = records_[it->second];
    log_printf("PTP -- %s/%s has the same name as %s/%s; left out", folder.c_str(), name.c_str(),
               first.file.folder.c_str(), name.c_str());
    left_out_.push_back(child_folder(folder, name));
    ui_printf("\nWARNING: the camera holds two images named %s; the one in %s is ingested, "
              "the one in %s is left out.\n",
              name.c_str(), first.file.folder.c_str(), folder.c_str());
    return;
  }
  records_.push_back(Record{std::move(file), {}, false});
  progress("Images: " + std::to_string(records_.size()));
}

std::vector<std::string> PtpSource::left_out() {
  std::lock_guard<std::mutex> hold(mutex_);
  return left_out_;
}

PtpSource::Record* PtpSource::find(const std::string& path) {
  auto it = index_.find(path);
  if (it == index_.end() || !camera_) {
    log_printf("PTP -- path \"%s\" not found", path.c_str());
    return nullptr;
  }
  return &records_[it->second];
}

bool PtpSource::fetch_info_locked(Record& record) {
  if (record.fetched) return true;
  DeviceError error;
  bool has_size = false;
  bool ok;
  {
    std::lock_guard<std::mutex> hold(camera_->lock);
    ok = camera_->device->file_info(record.file.folder, record.file.name, record.info, has_size,
                                    error);
  }
  if (ok && !has_size) {
    ok = false;
    error.set(DeviceError::Kind::kOther, 0, "the camera gives no size for it");
  }
  if (!ok) {
    report_camera_file_error("examining", record.file, error);
    return false;
  }
  record.fetched = true;
  return true;
}

bool PtpSource::stat(const std::string& path, CameraFileInfo& info) {
  std::lock_guard<std::mutex> hold(mutex_);
  Record* record = find(path);
  if (!record || !fetch_info_locked(*record)) return false;
  info = record->info;
  return true;
}

std::unique_ptr<CameraStream> PtpSource::open(const std::string& path) {
  std::lock_guard<std::mutex> hold(mutex_);
  Record* record = find(path);
  if (!record || !fetch_info_locked(*record)) return nullptr;
  DeviceError error;
  std::unique_ptr<CameraStream> stream =
      open_camera_stream(camera_, record->file, record->info.size, error);
  if (!stream) report_camera_file_error("opening", record->file, error);
  return stream;
}

void PtpSource::close_device() {
  std::lock_guard<std::mutex> hold(mutex_);
  close_locked();
}

void PtpSource::close_locked() {
  if (!camera_) return;
  log_printf("PTP close device");
  log_printf("PTP: %d devices; %zu images on device", device_count_, records_.size());
  camera_.reset();
  open_name_.clear();
  records_.clear();
  index_.clear();
  left_out_.clear();
}

}  // namespace cw
