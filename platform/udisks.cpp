// udisks2 over sd-bus: the object list is read once per request with GetManagedObjects and
// decoded into plain structures; the requests are single method calls.
#include "platform/udisks.h"

#include <sys/stat.h>
#include <systemd/sd-bus.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "foundation/log.h"
#include "platform/shared_library.h"

namespace cw {

namespace {

// The bus library, loaded by the first connect(): most runs of the program never reach the bus.
#define CW_SD_BUS_FUNCTIONS(X)                                                                \
  X(sd_bus_open_system) X(sd_bus_flush_close_unref) X(sd_bus_message_new_method_call)         \
  X(sd_bus_message_append) X(sd_bus_call) X(sd_bus_message_unref) X(sd_bus_error_free)        \
  X(sd_bus_error_has_name) X(sd_bus_error_has_names_sentinel) X(sd_bus_message_read_array)    \
  X(sd_bus_message_read_basic) X(sd_bus_message_enter_container)                              \
  X(sd_bus_message_exit_container) X(sd_bus_message_at_end) X(sd_bus_message_peek_type)       \
  X(sd_bus_message_skip)

CW_LIBRARY_TABLE(SdBus, CW_SD_BUS_FUNCTIONS);

const SdBus* load_sd_bus(std::string& error) {
  return library_functions<SdBus>(CW_LIBSYSTEMD_SONAME, error);
}

// The library's functions once a connection was made: everything below is reached through one.
const SdBus& sd() { return loaded_functions<SdBus>(CW_LIBSYSTEMD_SONAME); }

constexpr const char* kService = "org.freedesktop.UDisks2";
constexpr const char* kRootPath = "/org/freedesktop/UDisks2";
constexpr const char* kBlockIface = "org.freedesktop.UDisks2.Block";
constexpr const char* kFilesystemIface = "org.freedesktop.UDisks2.Filesystem";
constexpr const char* kLoopIface = "org.freedesktop.UDisks2.Loop";
constexpr const char* kPartitionIface = "org.freedesktop.UDisks2.Partition";
constexpr const char* kDriveIface = "org.freedesktop.UDisks2.Drive";

// Listing answers at once; unmounting flushes what is still cached for a slow card, and
// powering off waits for the device, so those get much longer.
constexpr std::uint64_t kListTimeoutUsec = 10'000'000;
constexpr std::uint64_t kRequestTimeoutUsec = 120'000'000;

struct MessageRef {
  sd_bus_message* m = nullptr;
  ~MessageRef() { sd().sd_bus_message_unref(m); }
};

struct ErrorRef {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  ~ErrorRef() { sd().sd_bus_error_free(&e); }
};

// Byte-array texts of the service end with a NUL that is not part of the text.
bool read_byte_text(sd_bus_message* m, std::string& out) {
  const void* data = nullptr;
  std::size_t size = 0;
  if (sd().sd_bus_message_read_array(m, 'y', &data, &size) < 0) return false;
  const char* text = static_cast<const char*>(data);
  out.assign(text ? text : "", text ? strnlen(text, size) : 0);
  return true;
}

bool read_byte_texts(sd_bus_message* m, std::vector<std::string>& out) {
  if (sd().sd_bus_message_enter_container(m, 'a', "ay") < 0) return false;
  while (sd().sd_bus_message_at_end(m, 0) == 0) {
    std::string text;
    if (!read_byte_text(m, text)) return false;
    out.push_back(std::move(text));
  }
  return sd().sd_bus_message_exit_container(m) >= 0;
}

bool read_text(sd_bus_message* m, char type, std::string& out) {
  const char* text = nullptr;
  if (sd().sd_bus_message_read_basic(m, type, &text) < 0) return false;
  out = text ? text : "";
  return true;
}

bool read_flag(sd_bus_message* m, bool& out) {
  int value = 0;
  if (sd().sd_bus_message_read_basic(m, 'b', &value) < 0) return false;
  out = value != 0;
  return true;
}

// A property reader: the variant's expected contents and how to read them.
struct PropertyReader {
  const char* name;
  const char* signature;
  std::function<bool(sd_bus_message*)> read;
};

// Reads one a{sv} property dictionary, decoding the properties named in `readers` and
// skipping everything else (including values of an unexpected type).
bool read_properties(sd_bus_message* m, const std::vector<PropertyReader>& readers) {
  if (sd().sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return false;
  int r;
  while ((r = sd().sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
    const char* name = nullptr;
    if (sd().sd_bus_message_read_basic(m, 's', &name) < 0) return false;
    char type = 0;
    const char* contents = nullptr;
    if (sd().sd_bus_message_peek_type(m, &type, &contents) < 0) return false;
    const PropertyReader* reader = nullptr;
    for (const PropertyReader& pr : readers)
      if (name && std::strcmp(pr.name, name) == 0 && contents &&
          std::strcmp(pr.signature, contents) == 0)
        reader = &pr;
    if (reader) {
      if (sd().sd_bus_message_enter_container(m, 'v', contents) < 0 || !reader->read(m) ||
          sd().sd_bus_message_exit_container(m) < 0)
        return false;
    } else if (sd().sd_bus_message_skip(m, "v") < 0) {
      return false;
    }
    if (sd().sd_bus_message_exit_container(m) < 0) return false;
  }
  return r >= 0 && sd().sd_bus_message_exit_container(m) >= 0;
}

// Reads the interfaces of one object into a block or a drive.
bool read_object(sd_bus_message* m, const std::string& path, UdisksObjects& out) {
  UdisksBlock block;
  UdisksDrive drive;
  block.object_path = drive.object_path = path;
  bool is_block = false;
  bool is_drive = false;
  const std::vector<PropertyReader> block_props = {
      {"Device", "ay", [&](sd_bus_message* v) { return read_byte_text(v, block.device); }},
      {"Symlinks", "aay", [&](sd_bus_message* v) { return read_byte_texts(v, block.symlinks); }},
      {"DeviceNumber", "t",
       [&](sd_bus_message* v) {
         return sd().sd_bus_message_read_basic(v, 't', &block.device_number) >= 0;
       }},
      {"IdLabel", "s", [&](sd_bus_message* v) { return read_text(v, 's', block.label); }},
      {"IdUUID", "s", [&](sd_bus_message* v) { return read_text(v, 's', block.uuid); }},
      {"Drive", "o", [&](sd_bus_message* v) { return read_text(v, 'o', block.drive); }},
  };
  const std::vector<PropertyReader> filesystem_props = {
      {"MountPoints", "aay",
       [&](sd_bus_message* v) { return read_byte_texts(v, block.mount_points); }},
  };
  const std::vector<PropertyReader> partition_props = {
      {"Table", "o", [&](sd_bus_message* v) { return read_text(v, 'o', block.partition_table); }},
  };
  const std::vector<PropertyReader> drive_props = {
      {"Vendor", "s", [&](sd_bus_message* v) { return read_text(v, 's', drive.vendor); }},
      {"Model", "s", [&](sd_bus_message* v) { return read_text(v, 's', drive.model); }},
      {"Removable", "b", [&](sd_bus_message* v) { return read_flag(v, drive.removable); }},
      {"MediaRemovable", "b",
       [&](sd_bus_message* v) { return read_flag(v, drive.media_removable); }},
      {"Ejectable", "b", [&](sd_bus_message* v) { return read_flag(v, drive.ejectable); }},
      {"CanPowerOff", "b", [&](sd_bus_message* v) { return read_flag(v, drive.can_power_off); }},
      {"Optical", "b", [&](sd_bus_message* v) { return read_flag(v, drive.optical); }},
      {"SiblingId", "s", [&](sd_bus_message* v) { return read_text(v, 's', drive.sibling_id); }},
  };
  const std::vector<PropertyReader> none;

  if (sd().sd_bus_message_enter_container(m, 'a', "{sa{sv}}") < 0) return false;
  int r;
  while ((r = sd().sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
    const char* iface = nullptr;
    if (sd().sd_bus_message_read_basic(m, 's', &iface) < 0) return false;
    std::string name = iface ? iface : "";
    const std::vector<PropertyReader>* readers = &none;
    if (name == kBlockIface) {
      is_block = true;
      readers = &block_props;
    } else if (name == kFilesystemIface) {
      block.has_filesystem = true;
      readers = &filesystem_props;
    } else if (name == kLoopIface) {
      block.is_loop = true;
    } else if (name == kPartitionIface) {
      readers = &partition_props;
    } else if (name == kDriveIface) {
      is_drive = true;
      readers = &drive_props;
    }
    if (!read_properties(m, *readers) || sd().sd_bus_message_exit_container(m) < 0) return false;
  }
  if (r < 0 || sd().sd_bus_message_exit_container(m) < 0) return false;
  if (is_block) out.blocks.push_back(std::move(block));
  if (is_drive) out.drives.push_back(std::move(drive));
  return true;
}

UdisksReply reply_for(const sd_bus_error& error) {
  if (sd().sd_bus_error_has_name(&error, "org.freedesktop.UDisks2.Error.DeviceBusy"))
    return UdisksReply::kBusy;
  if (sd().sd_bus_error_has_names(&error, "org.freedesktop.UDisks2.Error.NotAuthorized",
                                  "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain",
                                  "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed"))
    return UdisksReply::kNotAuthorized;
  if (sd().sd_bus_error_has_name(&error, "org.freedesktop.UDisks2.Error.NotMounted"))
    return UdisksReply::kNotMounted;
  return UdisksReply::kFailed;
}

}  // namespace

const UdisksBlock* UdisksObjects::block_for(const std::string& source,
                                            std::uint64_t device_number) const {
  for (const UdisksBlock& b : blocks) {
    if (b.device == source) return &b;
    for (const std::string& link : b.symlinks)
      if (link == source) return &b;
  }
  if (device_number != 0)
    for (const UdisksBlock& b : blocks)
      if (b.device_number == device_number) return &b;
  return nullptr;
}

const UdisksBlock* UdisksObjects::block_at(const std::string& object_path) const {
  for (const UdisksBlock& b : blocks)
    if (b.object_path == object_path) return &b;
  return nullptr;
}

const UdisksDrive* UdisksObjects::drive_at(const std::string& object_path) const {
  for (const UdisksDrive& d : drives)
    if (d.object_path == object_path) return &d;
  return nullptr;
}

std::unique_ptr<Udisks> Udisks::connect() {
  // Where the bus library would connect; without a bus there (a server, a container) the
  // library is not even loaded.
  struct stat socket;
  if (!std::getenv("DBUS_SYSTEM_BUS_ADDRESS") &&
      ::stat("/run/dbus/system_bus_socket", &socket) != 0)
    return nullptr;
  std::string error;
  if (!load_sd_bus(error)) {
    log_printf("udisks2: %s", error.c_str());
    return nullptr;
  }
  sd_bus* bus = nullptr;
  if (sd().sd_bus_open_system(&bus) < 0) return nullptr;
  return std::make_unique<Udisks>(Key{}, bus);
}

Udisks::~Udisks() { sd().sd_bus_flush_close_unref(bus_); }

std::optional<UdisksObjects> Udisks::objects() {
  MessageRef call;
  MessageRef reply;
  ErrorRef error;
  if (sd().sd_bus_message_new_method_call(bus_, &call.m, kService, kRootPath,
                                          "org.freedesktop.DBus.ObjectManager",
                                          "GetManagedObjects") < 0 ||
      sd().sd_bus_call(bus_, call.m, kListTimeoutUsec, &error.e, &reply.m) < 0)
    return std::nullopt;
  UdisksObjects objects;
  sd_bus_message* m = reply.m;
  if (sd().sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}") < 0) return std::nullopt;
  int r;
  while ((r = sd().sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
    const char* path = nullptr;
    if (sd().sd_bus_message_read_basic(m, 'o', &path) < 0 ||
        !read_object(m, path ? path : "", objects) || sd().sd_bus_message_exit_container(m) < 0) {
      log_printf("udisks2: object list could not be decoded");
      return std::nullopt;
    }
  }
  if (r < 0) return std::nullopt;
  return objects;
}

UdisksReply Udisks::call(const std::string& path, const char* interface, const char* member,
                         std::string& message) {
  MessageRef call;
  MessageRef reply;
  ErrorRef error;
  int r =
      sd().sd_bus_message_new_method_call(bus_, &call.m, kService, path.c_str(), interface, member);
  if (r >= 0)
    r = sd().sd_bus_message_append(call.m, "a{sv}", 1, "auth.no_user_interaction", "b", 1);
  if (r < 0) {
    message = std::strerror(-r);
    return UdisksReply::kFailed;
  }
  if (sd().sd_bus_call(bus_, call.m, kRequestTimeoutUsec, &error.e, &reply.m) >= 0)
    return UdisksReply::kOk;
  message = error.e.message ? error.e.message : (error.e.name ? error.e.name : "no reply");
  return reply_for(error.e);
}

UdisksReply Udisks::unmount(const std::string& block_path, std::string& message) {
  return call(block_path, kFilesystemIface, "Unmount", message);
}

UdisksReply Udisks::delete_loop(const std::string& block_path, std::string& message) {
  return call(block_path, kLoopIface, "Delete", message);
}

UdisksReply Udisks::eject(const std::string& drive_path, std::string& message) {
  return call(drive_path, kDriveIface, "Eject", message);
}

UdisksReply Udisks::power_off(const std::string& drive_path, std::string& message) {
  return call(drive_path, kDriveIface, "PowerOff", message);
}

}  // namespace cw
