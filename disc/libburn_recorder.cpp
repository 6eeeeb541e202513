// Recorders on libburn, images on libisofs.
//
// Sections: library use and messages; media types from libburn profiles; building the image;
// writing it to a grabbed drive with progress; the optical recorder; the image-file recorder.
//
// libburn and libisofs keep process-wide state: they are initialised while at least one of our
// objects uses them, and their message queues are drained into the run log (the last serious
// message becomes the failure text). Source files are only ever read.
#include "disc/libburn_recorder.h"

// libisofs.h needs the fixed-width types and libburn's burn_source declared before it.
#include <stdint.h>
// clang-format off
#include <libburn/libburn.h>
#include <libisofs/libisofs.h>
// clang-format on

// libburn declares its C interface inside namespace burn when compiled as C++; libisofs names
// the same struct burn_source at global scope. The two are one C type, passed across by cast.
using namespace burn;
using BurnSource = burn::burn_source;

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <functional>
#include <vector>
#include <utility>
#include <thread>

#include "disc/drive_holder.h"
#include "disc/image_estimate.h"
#include "foundation/content_hash.h"
#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/sysio.h"
#include "foundation/text.h"
#include "platform/shared_library.h"

namespace cw {

namespace {

// ---------------------------------------------------------------- the libraries

// Both libraries are opened when a disc is first written, listed or read back: most runs of
// the program never touch a disc.
#define CW_LIBBURN_FUNCTIONS(X)                                                                   \
  X(burn_disc_add_session) X(burn_disc_create) X(burn_disc_free) X(burn_disc_get_profile)         \
  X(burn_disc_get_status) X(burn_disc_write) X(burn_drive_cancel) X(burn_drive_d_get_adr)         \
  X(burn_drive_get_all_profiles) X(burn_drive_get_drive_role) X(burn_drive_get_status)            \
  X(burn_drive_info_free) X(burn_drive_re_assess) X(burn_drive_release) X(burn_drive_scan)        \
  X(burn_drive_scan_and_grab) X(burn_drive_set_speed) X(burn_drive_wrote_well) X(burn_finish)     \
  X(burn_initialize) X(burn_msgs_obtain) X(burn_msgs_set_severities) X(burn_read_data)            \
  X(burn_session_add_track) X(burn_session_create) X(burn_session_free) X(burn_source_free)       \
  X(burn_track_create) X(burn_track_define_data) X(burn_track_free) X(burn_track_set_source)      \
  X(burn_write_opts_auto_write_type) X(burn_write_opts_free) X(burn_write_opts_new)               \
  X(burn_write_opts_set_multi) X(burn_write_opts_set_perform_opc)                                 \
  X(burn_write_opts_set_simulate) X(burn_write_opts_set_stdio_fsync)                              \
  X(burn_write_opts_set_underrun_proof)

#define CW_LIBISOFS_FUNCTIONS(X)                                                                  \
  X(iso_data_source_new_from_file) X(iso_data_source_unref) X(iso_dir_get_children)               \
  X(iso_dir_iter_free) X(iso_dir_iter_next) X(iso_file_get_stream) X(iso_finish)                  \
  X(iso_image_add_new_file) X(iso_image_create_burn_source) X(iso_image_get_root)                 \
  X(iso_image_import) X(iso_image_new) X(iso_image_set_application_id)                            \
  X(iso_image_set_volume_id) X(iso_image_unref) X(iso_init_with_flag) X(iso_memory_stream_new)    \
  X(iso_node_get_name) X(iso_node_get_type) X(iso_obtain_msgs) X(iso_read_opts_free)              \
  X(iso_read_opts_new) X(iso_ring_buffer_get_status) X(iso_set_local_charset)                     \
  X(iso_set_msgs_severities) X(iso_stream_close) X(iso_stream_open) X(iso_stream_read)            \
  X(iso_stream_unref) X(iso_tree_add_new_dir) X(iso_tree_add_new_node)                            \
  X(iso_tree_set_follow_symlinks) X(iso_write_opts_free) X(iso_write_opts_new)                    \
  X(iso_write_opts_set_fifo_size) X(iso_write_opts_set_iso_level) X(iso_write_opts_set_joliet)    \
  X(iso_write_opts_set_joliet_long_names) X(iso_write_opts_set_rockridge)

CW_LIBRARY_TABLE(Libburn, CW_LIBBURN_FUNCTIONS);
CW_LIBRARY_TABLE(Libisofs, CW_LIBISOFS_FUNCTIONS);

// Both libraries' functions; false with `error` saying which could not be loaded.
bool load_libraries(std::string& error) {
  return library_functions<Libburn>(CW_LIBBURN_SONAME, error) &&
         library_functions<Libisofs>(CW_LIBISOFS_SONAME, error);
}

// The functions, once a LibraryUse has loaded them: everything below is reached through one.
const Libburn& libburn() { return loaded_functions<Libburn>(CW_LIBBURN_SONAME); }
const Libisofs& isofs() { return loaded_functions<Libisofs>(CW_LIBISOFS_SONAME); }

// ---------------------------------------------------------------- library use and messages

// Counts the users of both libraries; the first initialises them, the last shuts them down.
class LibraryUse {
 public:
  LibraryUse() {
    std::lock_guard<std::mutex> lock(mutex());
    if (users() == 0) {
      if (std::string why; !load_libraries(why)) {
        log_printf("Disc writing: %s", why.c_str());
        return;
      }
      if (libburn().burn_initialize() == 0) return;
      if (isofs().iso_init_with_flag(1) < 0) {
        libburn().burn_finish();
        return;
      }
      // Messages are queued for the run log, never printed by the libraries themselves.
      libburn().burn_msgs_set_severities(const_cast<char*>("NOTE"), const_cast<char*>("NEVER"),
                                         const_cast<char*>("cardwright: "));
      isofs().iso_set_msgs_severities(const_cast<char*>("NOTE"), const_cast<char*>("NEVER"),
                                      const_cast<char*>("cardwright: "));
      // File names are UTF-8 whatever the process's locale says.
      isofs().iso_set_local_charset(const_cast<char*>("UTF-8"), 0);
    }
    ++users();
    ok_ = true;
  }
  ~LibraryUse() {
    if (!ok_) return;
    std::lock_guard<std::mutex> lock(mutex());
    if (--users() == 0) {
      isofs().iso_finish();
      libburn().burn_finish();
    }
  }
  LibraryUse(const LibraryUse&) = delete;
  LibraryUse& operator=(const LibraryUse&) = delete;
  bool ok() const { return ok_; }

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static int& users() {
    static int n = 0;
    return n;
  }
  bool ok_ = false;
};

constexpr const char* kInitFailedText =
    "Can't initialize disc-mastering subsystem. The libburn and libisofs libraries could not "
    "start.";

bool serious(const char* severity) {
  return std::strcmp(severity, "SORRY") == 0 || std::strcmp(severity, "FAILURE") == 0 ||
         std::strcmp(severity, "FATAL") == 0 || std::strcmp(severity, "ABORT") == 0;
}

// Logs every queued message of both libraries; the last serious one becomes `error`'s detail.
// `last_code`, when given, receives the code of the last message of any severity (0: none).
void drain_messages(WriteError* error, unsigned* last_code = nullptr) {
  char text[BURN_MSGS_MESSAGE_LEN > ISO_MSGS_MESSAGE_LEN ? BURN_MSGS_MESSAGE_LEN
                                                         : ISO_MSGS_MESSAGE_LEN];
  char severity[80];
  int code = 0, os_errno = 0, image_id = 0;
  while (libburn().burn_msgs_obtain(const_cast<char*>("ALL"), &code, text, &os_errno,
                                    severity) > 0) {
    log_printf("libburn %s: %s", severity, text);
    if (last_code) *last_code = static_cast<unsigned>(code);
    if (error && serious(severity)) {
      error->message = text;
      error->code = static_cast<unsigned>(code);
    }
  }
  while (isofs().iso_obtain_msgs(const_cast<char*>("ALL"), &code, &image_id, text, severity) > 0) {
    log_printf("libisofs %s: %s", severity, text);
    if (last_code) *last_code = static_cast<unsigned>(code);
    if (error && serious(severity)) {
      error->message = text;
      error->code = static_cast<unsigned>(code);
    }
  }
}

bool fail(WriteError& error, std::string message, unsigned code = 0) {
  drain_messages(nullptr);
  error.message = std::move(message);
  error.code = code;
  return false;
}

// ---------------------------------------------------------------- media types

int media_type_of_profile(int profile) {
  switch (profile) {
    case 0x08:
      return kMediaCdRom;
    case 0x09:
      return kMediaCdR;
    case 0x0a:
      return kMediaCdRw;
    case 0x10:
      return kMediaDvdRom;
    case 0x11:
      return kMediaDvdDashR;
    case 0x12:
      return kMediaDvdRam;
    case 0x13:
    case 0x14:
      return kMediaDvdDashRw;
    case 0x15:
    case 0x16:
      return kMediaDvdDashRDualLayer;
    case 0x1a:
      return kMediaDvdPlusRw;
    case 0x1b:
      return kMediaDvdPlusR;
    case 0x2a:
      return kMediaDvdPlusRwDualLayer;
    case 0x2b:
      return kMediaDvdPlusRDualLayer;
    case 0x40:
      return kMediaBdRom;
    case 0x41:
    case 0x42:
      return kMediaBdR;
    case 0x43:
      return kMediaBdRe;
    case 0x50:
      return kMediaHdDvdRom;
    case 0x51:
      return kMediaHdDvdR;
    case 0x52:
      return kMediaHdDvdRam;
    case 0xffff:
      return kMediaRandomAccess;  // libburn's stdio: pseudo-drive, a file
    default:
      return kMediaUnknown;
  }
}

// ---------------------------------------------------------------- handles

struct ImageUnref {
  void operator()(IsoImage* image) const { isofs().iso_image_unref(image); }
};
using ImagePtr = std::unique_ptr<IsoImage, ImageUnref>;

// A grabbed drive, released (and ejected when asked) at the end.
class GrabbedDrive {
 public:
  GrabbedDrive() = default;
  ~GrabbedDrive() { release(false); }
  GrabbedDrive(const GrabbedDrive&) = delete;
  GrabbedDrive& operator=(const GrabbedDrive&) = delete;

  bool grab(const std::string& address) {
    std::string adr = address;
    if (libburn().burn_drive_scan_and_grab(&info_, adr.data(), 1) <= 0) {
      info_ = nullptr;
      drain_messages(nullptr);
      return false;
    }
    return true;
  }
  void release(bool eject) {
    if (!info_) return;
    libburn().burn_drive_release(info_[0].drive, eject ? 1 : 0);
    libburn().burn_drive_info_free(info_);
    info_ = nullptr;
  }
  burn_drive* drive() const { return info_ ? info_[0].drive : nullptr; }

 private:
  burn_drive_info* info_ = nullptr;
};

// The pieces of one burn run, freed in the order libburn wants.
struct BurnRun {
  BurnSource* image_source = nullptr;
  burn_track* track = nullptr;
  burn_session* session = nullptr;
  burn_disc* disc = nullptr;
  bool consumed = false;  // the drive read the image to its end
  ~BurnRun() {
    // An image generator that was not read to its end is still at work: stop it.
    if (image_source && !consumed && image_source->cancel) image_source->cancel(image_source);
    if (image_source) libburn().burn_source_free(image_source);
    if (track) libburn().burn_track_free(track);
    if (session) libburn().burn_session_free(session);
    if (disc) libburn().burn_disc_free(disc);
  }
};

// ---------------------------------------------------------------- building the image

std::string parent_of(const std::string& path) {
  std::size_t sep = path.rfind('/');
  return sep == std::string::npos ? std::string() : path.substr(0, sep);
}

std::string leaf_of(const std::string& path) {
  std::size_t sep = path.rfind('/');
  return sep == std::string::npos ? path : path.substr(sep + 1);
}

// A file at `dir` holding `text`; the stream owns a copy of it.
bool add_text_file(IsoImage* image, IsoDir* dir, const char* name, const std::string& text) {
  // The stream frees its buffer with free(): the copy is made with malloc.
  auto* buf = static_cast<unsigned char*>(std::malloc(text.size() + 1));
  if (!buf) return false;
  std::memcpy(buf, text.data(), text.size());
  IsoStream* stream = nullptr;
  if (isofs().iso_memory_stream_new(buf, text.size(), &stream) < 0) {
    std::free(buf);
    return false;
  }
  IsoFile* file = nullptr;
  if (isofs().iso_image_add_new_file(image, dir, name, stream, &file) < 0) {
    isofs().iso_stream_unref(stream);
    return false;
  }
  return true;
}

ImagePtr build_image(const DiscImage& content, const WriteEvents& events, WriteError& error) {
  if (events.status) events.status("Creating File System...");
  // ISO 9660 volume identifiers are upper case (d-characters); Rock Ridge and Joliet keep the
  // file names as they are.
  std::string volume_id = ascii_upper(content.volume_id);
  IsoImage* raw = nullptr;
  if (isofs().iso_image_new(volume_id.c_str(), &raw) < 0 || !raw) {
    fail(error, "Failed to create the file system image");
    return nullptr;
  }
  ImagePtr image(raw);
  isofs().iso_image_set_volume_id(image.get(), volume_id.c_str());
  isofs().iso_image_set_application_id(image.get(), "CARDWRIGHT");
  // Links are never followed: a source is taken as the entry itself, never what it points to.
  isofs().iso_tree_set_follow_symlinks(image.get(), 0);

  std::map<std::string, IsoDir*> folders{{std::string(), isofs().iso_image_get_root(image.get())}};
  for (const std::string& path : content.folders) {
    auto parent = folders.find(parent_of(path));
    IsoDir* dir = nullptr;
    if (parent == folders.end() ||
        isofs().iso_tree_add_new_dir(parent->second, leaf_of(path).c_str(), &dir) < 0) {
      fail(error, format_limited(1000, "Failed to add folder %s", path.c_str()));
      return nullptr;
    }
    folders[path] = dir;
  }
  for (const ImageFile& f : content.files) {
    if (events.cancelled && events.cancelled()) {
      fail(error, user_canceled_text());
      return nullptr;
    }
    std::string leaf = leaf_of(f.path);
    if (events.status)
      events.status(format_limited(1000, "Adding \"%s\" to file system...", leaf.c_str()));
    auto parent = folders.find(parent_of(f.path));
    IsoNode* node = nullptr;
    if (parent == folders.end() ||
        isofs().iso_tree_add_new_node(image.get(), parent->second, leaf.c_str(), f.source.c_str(),
                                      &node) < 0) {
      log_printf("Error while adding file %s to file system", f.source.c_str());
      fail(error, format_limited(1000, "Failed to add file %s", f.source.c_str()));
      return nullptr;
    }
    // The layout checked each source; one that has become a link since then stops this disc
    // rather than carrying a link (or what it points to) onto it.
    if (isofs().iso_node_get_type(node) != LIBISO_FILE) {
      fail(error, format_limited(1000, "%s is no longer a file; it was not burned.",
                                 f.source.c_str()));
      return nullptr;
    }
    log_printf("Added file %s to file system", f.source.c_str());
  }
  IsoDir* root = isofs().iso_image_get_root(image.get());
  for (const auto& [name, text] : {std::pair{kDiscManifestName, &content.manifest},
                                   std::pair{kDiscProvenanceName, &content.provenance}}) {
    if (text->empty() && content.files.empty()) continue;
    if (!add_text_file(image.get(), root, name, *text)) {
      fail(error, format_limited(1000, "Failed to add file %s", name));
      return nullptr;
    }
  }
  return image;
}

// ---------------------------------------------------------------- writing

// The image generator's ring buffer, in 2 KiB blocks: 4 MiB between it and the drive. The
// drive reads it directly: a second buffer in libburn between them only adds hand-offs and
// made writing an image several times slower.
constexpr std::size_t kRingBlocks = 2048;
constexpr int kCdTailPadding = static_cast<int>(kReadAheadPadBytes);  // for readers reading ahead
constexpr auto kPollInterval = std::chrono::milliseconds(100);

WriteAction action_of(burn_drive_status status) {
  switch (status) {
    case BURN_DRIVE_READING:
    case BURN_DRIVE_READING_SYNC:
      return WriteAction::kValidating;
    case BURN_DRIVE_FORMATTING:
    case BURN_DRIVE_ERASING:
      return WriteAction::kFormatting;
    case BURN_DRIVE_SPAWNING:
    case BURN_DRIVE_GRABBING:
      return WriteAction::kInitializing;
    case BURN_DRIVE_WRITING_LEADOUT:
    case BURN_DRIVE_CLOSING_TRACK:
    case BURN_DRIVE_CLOSING_SESSION:
      return WriteAction::kFinalizing;
    default:
      return WriteAction::kWriting;
  }
}

int percent(double part, double whole) {
  if (whole <= 0) return -1;
  double p = 100.0 * part / whole;
  return p < 0 ? 0 : p > 100 ? 100 : static_cast<int>(p);
}

// Writes `content` to the grabbed drive. The drive's owner releases (and ejects) it.
bool write_image(burn_drive* drive, const DiscImage& content, const WriteEvents& events,
                 WriteError& error) {
  drain_messages(nullptr);  // what is queued now belongs to earlier work
  ImagePtr image = build_image(content, events, error);
  if (!image) return false;
  const bool optical = libburn().burn_drive_get_drive_role(drive) == 1;

  IsoWriteOpts* iso_opts = nullptr;
  if (isofs().iso_write_opts_new(&iso_opts, 1) < 0)
    return fail(error, "Failed to create the image writer");
  isofs().iso_write_opts_set_iso_level(iso_opts, 3);
  isofs().iso_write_opts_set_rockridge(iso_opts, 1);
  isofs().iso_write_opts_set_joliet(iso_opts, 1);
  isofs().iso_write_opts_set_joliet_long_names(iso_opts, 1);
  isofs().iso_write_opts_set_fifo_size(iso_opts, kRingBlocks);
  BurnRun run;
  ::burn_source* generator = nullptr;
  int rc = isofs().iso_image_create_burn_source(image.get(), iso_opts, &generator);
  run.image_source = reinterpret_cast<BurnSource*>(generator);
  isofs().iso_write_opts_free(iso_opts);
  if (rc < 0 || !run.image_source) {
    run.image_source = nullptr;
    return fail(error, "Failed to create the image stream", static_cast<unsigned>(rc));
  }

  run.disc = libburn().burn_disc_create();
  run.session = libburn().burn_session_create();
  run.track = libburn().burn_track_create();
  if (!run.disc || !run.session || !run.track)
    return fail(error, "Out of memory preparing the disc");
  libburn().burn_disc_add_session(run.disc, run.session, BURN_POS_END);
  libburn().burn_track_define_data(run.track, 0, optical ? kCdTailPadding : 0, 1, BURN_MODE1);
  if (libburn().burn_track_set_source(run.track, run.image_source) != BURN_SOURCE_OK)
    return fail(error, "Failed to attach the image stream to the disc");
  libburn().burn_session_add_track(run.session, run.track, BURN_POS_END);

  burn_write_opts* opts = libburn().burn_write_opts_new(drive);
  if (!opts) return fail(error, "Failed to prepare the recorder");
  libburn().burn_write_opts_set_perform_opc(opts, optical ? 1 : 0);
  libburn().burn_write_opts_set_multi(opts, 0);
  libburn().burn_write_opts_set_simulate(opts, 0);
  libburn().burn_write_opts_set_underrun_proof(opts, 1);
  // An image file is forced to the disk once, at its end.
  libburn().burn_write_opts_set_stdio_fsync(opts, 1);
  libburn().burn_drive_set_speed(drive, 0, 0);
  char reasons[BURN_REASONS_LEN] = "";
  if (libburn().burn_write_opts_auto_write_type(opts, run.disc, reasons, 0) == BURN_WRITE_NONE) {
    libburn().burn_write_opts_free(opts);
    WriteError detail;
    drain_messages(&detail);
    return fail(error, format_limited(1000, "Recorder not supported: %s", reasons), detail.code);
  }

  const auto start = std::chrono::steady_clock::now();
  std::uint64_t total_bytes = 0;  // the image's size once the drive has told it
  libburn().burn_disc_write(opts, run.disc);
  libburn().burn_write_opts_free(opts);
  bool cancel_sent = false;
  for (;;) {
    burn_progress p{};
    burn_drive_status status = libburn().burn_drive_get_status(drive, &p);
    if (status == BURN_DRIVE_IDLE) break;
    WriteProgress progress;
    progress.action = action_of(status);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress.elapsed_seconds = static_cast<int>(elapsed);
    progress.progress_percent = percent(p.sector, p.sectors);
    progress.bytes_done = static_cast<std::uint64_t>(p.sector > 0 ? p.sector : 0) * 2048;
    progress.bytes_total = static_cast<std::uint64_t>(p.sectors > 0 ? p.sectors : 0) * 2048;
    if (progress.bytes_total > 0) total_bytes = progress.bytes_total;
    if (p.sector > 0 && p.sectors > p.sector)
      progress.remaining_seconds = static_cast<int>(elapsed * (p.sectors - p.sector) / p.sector);
    if (p.buffer_capacity > 0) {
      progress.buffer_percent = percent(p.buffer_capacity - p.buffer_available, p.buffer_capacity);
    } else {
      std::size_t size = 0, free_bytes = 0;
      if (isofs().iso_ring_buffer_get_status(generator, &size, &free_bytes) > 0)
        progress.buffer_percent =
            percent(static_cast<double>(size - free_bytes), static_cast<double>(size));
    }
    // A cancel is repeated until the drive takes it: it is ignored before writing starts.
    if (events.progress && events.progress(progress)) {
      libburn().burn_drive_cancel(drive);
      cancel_sent = true;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  const bool wrote = libburn().burn_drive_wrote_well(drive) == 1;
  run.consumed = wrote;
  WriteError detail;
  unsigned last_code = 0;
  drain_messages(&detail, &last_code);
  if (cancel_sent) return fail(error, user_canceled_text());
  if (!wrote) {
    // Without a serious message the libraries' last word is their code: the failure is told
    // by it alone rather than by a text of ours that would explain nothing more.
    error.message = detail.message;
    error.code = detail.message.empty() ? last_code : detail.code;
    if (error.message.empty() && error.code == 0) error.message = "Writing the disc failed";
    return false;
  }
  if (events.progress) {
    WriteProgress done;
    done.action = WriteAction::kCompleted;
    done.progress_percent = 100;
    // A small image can be written before the drive's first report: its size is the image's.
    if (total_bytes == 0 && run.image_source->get_size)
      total_bytes = static_cast<std::uint64_t>(run.image_source->get_size(run.image_source));
    done.bytes_done = done.bytes_total = total_bytes;
    done.elapsed_seconds = static_cast<int>(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    events.progress(done);
  }
  return true;
}

// ---------------------------------------------------------------- reading an image back

struct ImportedImage {
  IsoImage* image = nullptr;
  ~ImportedImage() {
    if (image) isofs().iso_image_unref(image);
  }
};

// Every file below `dir`, by its path without a leading "/".
void collect_files(IsoDir* dir, const std::string& prefix, std::map<std::string, IsoFile*>& files) {
  IsoDirIter* iter = nullptr;
  if (isofs().iso_dir_get_children(dir, &iter) < 0) return;
  IsoNode* node = nullptr;
  while (isofs().iso_dir_iter_next(iter, &node) == 1) {
    const std::string path = prefix + isofs().iso_node_get_name(node);
    if (isofs().iso_node_get_type(node) == LIBISO_DIR)
      collect_files(reinterpret_cast<IsoDir*>(node), path + "/", files);
    else if (isofs().iso_node_get_type(node) == LIBISO_FILE)
      files[path] = reinterpret_cast<IsoFile*>(node);
  }
  isofs().iso_dir_iter_free(iter);
}

// Reads a file of the image whole through `each`; false when it cannot be read to its end.
bool read_image_file(IsoFile* file, std::vector<char>& buffer,
                     const std::function<void(const char*, std::size_t)>& each) {
  IsoStream* stream = isofs().iso_file_get_stream(file);
  if (!stream || isofs().iso_stream_open(stream) < 0) return false;
  bool ok = true;
  for (;;) {
    const int n = isofs().iso_stream_read(stream, buffer.data(), buffer.size());
    if (n < 0) ok = false;
    if (n <= 0) break;
    each(buffer.data(), static_cast<std::size_t>(n));
  }
  isofs().iso_stream_close(stream);
  return ok;
}

// Blocks of a disc in a grabbed drive, for libisofs to read an image from.
int drive_open(IsoDataSource*) { return 1; }
int drive_close(IsoDataSource*) { return 1; }
void drive_free(IsoDataSource*) {}
int drive_read_block(IsoDataSource* src, uint32_t lba, uint8_t* buffer) {
  off_t count = 0;
  const int rc =
      libburn().burn_read_data(static_cast<burn_drive*>(src->data), static_cast<off_t>(lba) * 2048,
                               reinterpret_cast<char*>(buffer), 2048, &count, 1);
  return rc > 0 && count == 2048 ? 1 : ISO_DATA_SOURCE_FAILURE;
}

// A data source on the grabbed `drive`; libisofs frees it with free() at its last reference.
IsoDataSource* drive_source(burn_drive* drive) {
  auto* src = static_cast<IsoDataSource*>(std::calloc(1, sizeof(IsoDataSource)));
  if (!src) return nullptr;
  src->refcount = 1;
  src->open = drive_open;
  src->close = drive_close;
  src->read_block = drive_read_block;
  src->free_data = drive_free;
  src->data = drive;
  return src;
}

bool check_disc_source(IsoDataSource* source, const std::string& where, DiscCheck& check,
                       std::string& error);

// Reads the disc in the grabbed drive back against its manifest.
bool check_drive(burn_drive* drive, const std::string& where, DiscCheck& check,
                 std::string& error) {
  IsoDataSource* source = drive_source(drive);
  if (!source) {
    error = "Out of memory reading the disc back";
    return false;
  }
  return check_disc_source(source, where, check, error);
}

// Whether what was read back is the disc that was meant; else the failure, naming `target`.
bool read_back_matches(const DiscCheck& check, bool read, const std::string& message,
                       const DiscImage& image, const std::string& target, WriteError& error) {
  if (!read)
    return fail(error, format_limited(1000, "The image %s does not read back: %s", target.c_str(),
                                      message.c_str()));
  std::string problem = check.problems.empty() ? std::string() : check.problems.front();
  if (check.manifest != image.manifest) problem = std::string(kDiscManifestName) + ": FAILED";
  // A file whose source no longer has the hash the ledger gave for it is the archive's
  // change, not the writer's fault: said as such.
  const std::string failed_suffix = ": FAILED";
  if (problem.size() > failed_suffix.size() &&
      problem.compare(problem.size() - failed_suffix.size(), failed_suffix.size(),
                      failed_suffix) == 0) {
    const std::string path = problem.substr(0, problem.size() - failed_suffix.size());
    int malformed = 0;
    std::vector<std::string> ignored;
    for (const auto& [listed, hash] : parse_disc_manifest(image.manifest, malformed, ignored)) {
      if (listed != path) continue;
      for (const ImageFile& f : image.files) {
        std::vector<char> buffer(1 << 16);
        Hash128 now;
        if (f.path == path && hash_file(f.source, now, buffer.data(), buffer.size()) &&
            !(now == hash))
          return fail(error, format_limited(1000,
                                            "The image %s was not kept: %s no longer has the "
                                            "hash the ingest ledger holds for it.",
                                            target.c_str(), f.source.c_str()));
      }
    }
  }
  if (!problem.empty())
    return fail(error, format_limited(1000, "The image %s does not read back as written: %s",
                                      target.c_str(), problem.c_str()));
  log_printf("Read back disc image %s: %d files match its manifest", target.c_str(), check.ok);
  return true;
}

// ---------------------------------------------------------------- the optical recorder

class DriveRecorder : public Recorder {
 public:
  explicit DriveRecorder(std::unique_ptr<LibraryUse> use) : use_(std::move(use)) {}
  bool grab(const std::string& address) { return drive_.grab(address); }

  std::vector<int> supported_media() override {
    int count = 0;
    int profiles[64];
    char current[64];
    std::vector<int> types;
    if (!drive_.drive() ||
        libburn().burn_drive_get_all_profiles(drive_.drive(), &count, profiles, current) <= 0)
      return types;
    for (int i = 0; i < count && i < 64; ++i) {
      int t = media_type_of_profile(profiles[i]);
      bool seen = false;
      for (int s : types) seen = seen || s == t;
      if (!seen) types.push_back(t);
    }
    return types;
  }

  MediaInfo media() override {
    MediaInfo info;
    if (!drive_.drive()) return info;
    burn_disc_status status = libburn().burn_disc_get_status(drive_.drive());
    if (status == BURN_DISC_EMPTY) return info;
    if (status == BURN_DISC_UNREADY || status == BURN_DISC_UNSUITABLE ||
        status == BURN_DISC_UNGRABBED) {
      WriteError detail;
      drain_messages(&detail);
      info.state = MediaInfo::kError;
      info.error =
          detail.message.empty() ? "The disc in the burner can't be read." : detail.message;
      return info;
    }
    int profile = 0;
    char name[80];
    libburn().burn_disc_get_profile(drive_.drive(), &profile, name);
    info.state = MediaInfo::kReady;
    info.type = media_type_of_profile(profile);
    info.blank = status == BURN_DISC_BLANK;
    return info;
  }

  bool write(const DiscImage& image, const WriteEvents& events, WriteError& error) override {
    if (!drive_.drive()) return fail(error, "Error: No Device Selected");
    if (!write_image(drive_.drive(), image, events, error)) return false;
    // The medium is taken in again as written, then read back against its manifest.
    libburn().burn_drive_re_assess(drive_.drive(), 0);
    DiscCheck check;
    std::string message;
    const bool read = check_drive(drive_.drive(), image.volume_id, check, message);
    return read_back_matches(check, read, message, image, image.volume_id, error);
  }

  void eject() override { drive_.release(true); }

 private:
  std::unique_ptr<LibraryUse> use_;  // outlives the drive, which is declared after it
  GrabbedDrive drive_;
};

// ---------------------------------------------------------------- the image-file recorder

class ImageFileRecorder : public Recorder {
 public:
  ImageFileRecorder(std::unique_ptr<LibraryUse> use, std::string folder)
      : use_(std::move(use)), folder_(std::move(folder)) {}

  std::vector<int> supported_media() override { return {kMediaRandomAccess}; }

  MediaInfo media() override {
    MediaInfo info;
    info.state = MediaInfo::kReady;
    info.type = kMediaRandomAccess;
    info.blank = true;
    return info;
  }

  // The image is written beside its final name and renamed when complete, so that an image
  // file under a disc's name is always a whole disc.
  bool write(const DiscImage& image, const WriteEvents& events, WriteError& error) override {
    const std::string target = image_file_path(folder_, image.volume_id);
    const std::string partial = target + ".part";
    struct stat st;
    if (sysio().stat(target.c_str(), &st) == 0)
      return fail(error, format_limited(1000, "Image file %s already exists.", target.c_str()));
    sysio().unlink(partial.c_str());  // left by an earlier write that did not end
    bool ok;
    {
      GrabbedDrive drive;
      if (!drive.grab("stdio:" + partial))
        return fail(error, format_limited(1000, "Failed to initialize recorder - Unique ID:%s",
                                          ("stdio:" + partial).c_str()));
      ok = write_image(drive.drive(), image, events, error);
    }
    // The libraries' own texts ("Cannot write desired amount of ... bytes") name no file.
    if (!ok && !error.message.empty() && error.message != user_canceled_text())
      error.message = text_with_path(error.message, target);
    // Nothing is called written before the image reads back as its manifest says.
    if (ok) ok = read_back(partial, image, target, error);
    if (ok && rename_path(partial, target) != 0)
      ok = fail(error, format_limited(1000, "Can't name the image %s.", target.c_str()),
                static_cast<unsigned>(errno));
    if (!ok)
      sysio().unlink(partial.c_str());
    else
      log_printf("Wrote disc image %s", target.c_str());
    return ok;
  }

  void eject() override {}

 private:
  static bool read_back(const std::string& partial, const DiscImage& image,
                        const std::string& target, WriteError& error) {
    DiscCheck check;
    std::string message;
    const bool read = check_disc_image(partial, check, message);
    return read_back_matches(check, read, message, image, target, error);
  }

  std::unique_ptr<LibraryUse> use_;
  std::string folder_;
};

std::unique_ptr<LibraryUse> use_libraries(std::string& message) {
  auto use = std::make_unique<LibraryUse>();
  if (!use->ok()) {
    message = kInitFailedText;
    return nullptr;
  }
  return use;
}

std::string trimmed(const char* text, std::size_t n) {
  std::string s(text, strnlen(text, n));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

// ---------------------------------------------------------------- the systems

bool LibburnSystem::recorders(std::vector<RecorderInfo>& list, std::string& message) {
  list.clear();
  std::unique_ptr<LibraryUse> use = use_libraries(message);
  if (!use) return false;
  burn_drive_info* drives = nullptr;
  unsigned count = 0;
  int rc;
  while ((rc = libburn().burn_drive_scan(&drives, &count)) == 0)
    std::this_thread::sleep_for(kPollInterval);
  drain_messages(nullptr);
  if (rc < 0) {
    message = "There were no writable devices detected!";
    return false;
  }
  for (unsigned i = 0; i < count; ++i) {
    char adr[BURN_DRIVE_ADR_LEN];
    if (libburn().burn_drive_d_get_adr(drives[i].drive, adr) <= 0) continue;
    std::string product = trimmed(drives[i].vendor, sizeof drives[i].vendor) + " " +
                          trimmed(drives[i].product, sizeof drives[i].product);
    list.push_back(RecorderInfo{adr, format_limited(1000, "%s [%s]", adr, product.c_str())});
  }
  if (drives) libburn().burn_drive_info_free(drives);
  if (list.empty()) {
    message = "There were no writable devices detected!";
    return false;
  }
  return true;
}

std::unique_ptr<Recorder> LibburnSystem::open(const std::string& id, OpenFailure& failure) {
  std::unique_ptr<LibraryUse> use = use_libraries(failure.message);
  if (!use) return nullptr;
  auto recorder = std::make_unique<DriveRecorder>(std::move(use));
  if (!recorder->grab(id)) {
    // The drive is taken by an exclusive open of its device: refused as busy, someone else
    // has it, and is named when it can be.
    const std::string address = id.rfind("stdio:", 0) == 0 ? id.substr(6) : id;
    char resolved[PATH_MAX];
    const std::string device = realpath(address.c_str(), resolved) ? resolved : address;
    if (device_held_exclusively(device)) {
      failure.exclusive_owner = device_holder(device);
      if (failure.exclusive_owner.empty()) failure.exclusive_owner = device;
      log_printf("Recorder %s is busy: %s holds it", id.c_str(),
                 failure.exclusive_owner.c_str());
      return nullptr;
    }
    failure.message =
        format_limited(1000, "Failed to initialize recorder - Unique ID:%s", id.c_str());
    return nullptr;
  }
  return recorder;
}

bool ImageFolderSystem::recorders(std::vector<RecorderInfo>& list, std::string& message) {
  list.clear();
  struct stat st;
  if (sysio().stat(folder_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    message = format_limited(1000, "Image folder %s does not exist.", folder_.c_str());
    return false;
  }
  list.push_back(
      RecorderInfo{folder_, format_limited(1000, "%s [disc image files]", folder_.c_str())});
  return true;
}

std::unique_ptr<Recorder> ImageFolderSystem::open(const std::string&, OpenFailure& failure) {
  std::unique_ptr<LibraryUse> use = use_libraries(failure.message);
  if (!use) return nullptr;
  return std::make_unique<ImageFileRecorder>(std::move(use), folder_);
}

std::vector<std::pair<std::string, Hash128>> parse_disc_manifest(
    const std::string& text, int& malformed, std::vector<std::string>& problems) {
  std::vector<std::pair<std::string, Hash128>> lines;
  std::size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::optional<Hash128> hash;
    if (line.size() > 34 && line[32] == ' ' && (line[33] == ' ' || line[33] == '*'))
      hash = Hash128::from_hex(std::string_view(line).substr(0, 32));
    if (!hash) {
      ++malformed;
      problems.push_back(format_limited(100, "line %d: malformed", number));
      continue;
    }
    lines.emplace_back(line.substr(34), *hash);
  }
  return lines;
}

namespace {

// Checks the image that `source` reads against its own manifest; `where` names it in errors.
// The source's reference is taken over.
bool check_disc_source(IsoDataSource* source, const std::string& where, DiscCheck& check,
                       std::string& error) {
  check = DiscCheck{};
  ImportedImage imported;
  IsoReadOpts* opts = nullptr;
  int rc = isofs().iso_image_new("", &imported.image);
  if (rc >= 0) rc = isofs().iso_read_opts_new(&opts, 0);
  if (rc >= 0) rc = isofs().iso_image_import(imported.image, source, opts, nullptr);
  if (opts) isofs().iso_read_opts_free(opts);
  isofs().iso_data_source_unref(source);
  drain_messages(nullptr);
  if (rc < 0) {
    error = text_with_path("Can't read the image's file system", where);
    return false;
  }
  std::map<std::string, IsoFile*> files;
  collect_files(isofs().iso_image_get_root(imported.image), "", files);
  std::vector<char> buffer(1 << 20);
  auto manifest = files.find(kDiscManifestName);
  if (manifest == files.end() ||
      !read_image_file(manifest->second, buffer, [&](const char* d, std::size_t n) {
        check.manifest.append(d, n);
      })) {
    error = text_with_path(std::string("The image holds no readable ") + kDiscManifestName, where);
    return false;
  }
  std::map<std::string, bool> listed;
  for (const auto& [path, hash] : parse_disc_manifest(check.manifest, check.malformed,
                                                      check.problems)) {
    listed[path] = true;
    auto f = files.find(path);
    ContentHasher hasher;
    std::uint64_t size = 0;
    if (f == files.end() || !read_image_file(f->second, buffer, [&](const char* d, std::size_t n) {
          hasher.update(d, n);
          size += n;
        })) {
      ++check.missing;
      check.problems.push_back(path + ": MISSING");
    } else if (!(hasher.digest() == hash)) {
      ++check.failed;
      check.problems.push_back(path + ": FAILED");
    } else {
      ++check.ok;
      check.matched.push_back(DiscCheck::File{path, hash, size});
    }
  }
  for (const auto& [path, file] : files) {
    if (listed.count(path) || path == kDiscManifestName || path == kDiscProvenanceName) continue;
    ++check.unlisted;
    check.problems.push_back(path + ": not in the manifest");
  }
  return true;
}

}  // namespace

bool check_disc_image(const std::string& iso, DiscCheck& check, std::string& error) {
  check = DiscCheck{};
  LibraryUse use;
  if (!use.ok()) {
    error = kInitFailedText;
    return false;
  }
  IsoDataSource* source = nullptr;
  if (isofs().iso_data_source_new_from_file(iso.c_str(), &source) < 0) {
    error = text_with_path("Can't open the image", iso);
    return false;
  }
  return check_disc_source(source, iso, check, error);
}

bool check_disc_in_drive(const std::string& address, DiscCheck& check, std::string& error) {
  check = DiscCheck{};
  LibraryUse use;
  if (!use.ok()) {
    error = kInitFailedText;
    return false;
  }
  GrabbedDrive drive;
  if (!drive.grab(address)) {
    error = format_limited(1000, "Failed to initialize recorder - Unique ID:%s", address.c_str());
    return false;
  }
  return check_drive(drive.drive(), address, check, error);
}

void check_unlisted_in_folder(const std::string& folder, const std::vector<std::string>& listed,
                              DiscCheck& check) {
  namespace fs = std::filesystem;
  // A manifest's "./a.jpg" names the file the walk finds as "a.jpg".
  std::set<std::string> known;
  for (const std::string& p : listed) known.insert(fs::path(p).lexically_normal().generic_string());
  // Without a trailing "/" the paths the walk finds are relative to the folder's own.
  std::string root = folder;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::vector<std::string> unlisted;
  std::error_code ec;
  std::string where = root;  // the entry last reached: where a failed step was
  fs::recursive_directory_iterator it(root, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    where = it->path().string();
    std::error_code type_ec;
    if (it->symlink_status(type_ec).type() == fs::file_type::directory) continue;
    const std::string path = it->path().lexically_relative(root).generic_string();
    if (path == kDiscManifestName || path == kDiscProvenanceName || known.count(path)) continue;
    unlisted.push_back(path);
  }
  if (ec) {
    ++check.missing;
    check.problems.push_back(where + ": can't be read (" + ec.message() + ")");
  }
  // In the order of their names, as the manifest lists its files.
  std::sort(unlisted.begin(), unlisted.end());
  for (const std::string& path : unlisted) {
    ++check.unlisted;
    check.problems.push_back(path + ": not in the manifest");
  }
}

std::string image_file_path(const std::string& folder, const std::string& label) {
  if (!folder.empty() && folder.back() == '/') return folder + label + ".iso";
  return folder + "/" + label + ".iso";
}

}  // namespace cw
