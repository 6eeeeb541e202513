// copy_image: target path, unique creation, sidecar, byte copy, time and size checks, then the
// JPEG steps (XMP merge, verification).
#include "ingest/first_copy.h"

#include <fcntl.h>
#include <strings.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>

#include "foundation/fs.h"
#include "foundation/locks.h"
#include "foundation/log.h"
#include "foundation/sysio.h"
#include "ingest/converter.h"
#include "ingest/copy_io.h"
#include "ingest/extract_jpeg.h"
#include "ingest/gps_phase.h"
#include "ingest/jpeg_verify.h"
#include "ingest/sidecar_placement.h"
#include "ingest/unique_target.h"
#include "metadata/jpeg_xmp.h"
#include "platform/camera_source.h"

namespace cw {

namespace {

constexpr std::size_t kMaxTargetPath = 1000;

bool ends_with_separator(const std::string& s) { return !s.empty() && is_separator(s.back()); }

std::string folder_of(const std::string& path) {
  std::size_t sep = path.find_last_of("/\\");
  return sep == std::string::npos ? std::string(".") : path.substr(0, sep);
}

// Forms the target path and creates its folder.
bool form_target(EngineContext& ctx, const ImageRecord& r, std::string& target,
                 std::string& message) {
  if (ctx.first_copy_root.empty() || r.target_folder.empty() || r.new_base_name.empty()) {
    message = "unable to form full path";
    return false;
  }
  if (ctx.first_copy_root.size() + r.target_folder.size() + r.new_base_name.size() +
          r.extension.size() + 3 >= kMaxTargetPath) {
    message = "path too long";
    return false;
  }
  target = ctx.first_copy_root;
  if (r.target_folder != ".") {
    if (!ends_with_separator(target)) target += '/';
    target += r.target_folder;
  }
  if (!make_folders(ctx, target)) {
    message = "can't create target path";
    return false;
  }
  if (!ends_with_separator(target)) target += '/';
  target += r.new_base_name;
  if (!r.extension.empty()) target += "." + r.extension;
  return true;
}

bool is_sidecar_path(const std::string& p) {
  return p.size() > 4 && strcasecmp(p.c_str() + p.size() - 4, ".xmp") == 0;
}

// Copies the image's bytes from a camera stream or a file on disk.
CopyOutcome copy_source(EngineContext& ctx, const ImageRecord& r, UniqueFd& in, int out,
                        std::unique_ptr<CameraStream>& stream) {
  if (!is_camera_path(r.source_path)) return copy_fd(ctx, in.get(), out, r.first_copy_path);
  CameraStream* s = stream.get();
  ChunkReader reader = [s](void* buf, std::size_t n) { return s->read(buf, n); };
  return copy_chunks(ctx, reader, out, r.first_copy_path);
}

bool open_source(const ImageRecord& r, UniqueFd& fd, std::unique_ptr<CameraStream>& stream,
                 std::string& message) {
  if (is_camera_path(r.source_path)) {
    stream = camera_source().open(r.source_path);
    if (!stream) {
      log_printf("Starting ingestion from PTP; can't open\"%s\"", r.source_path.c_str());
      message = "can't open PTP image";
      return false;
    }
    return true;
  }
  fd.reset(sysio().open(r.source_path.c_str(), O_RDONLY | O_CLOEXEC, 0));
  if (!fd.valid()) {
    message = "can't open";
    return false;
  }
  return true;
}

bool copy_bytes(EngineContext& ctx, const ImageRecord& r, UniqueFd& out, std::string& message) {
  UniqueFd in;
  std::unique_ptr<CameraStream> stream;
  if (!open_source(r, in, stream, message)) return false;
  switch (copy_source(ctx, r, in, out.get(), stream)) {
    case CopyOutcome::kOk: break;
    case CopyOutcome::kStopped: message = "Stopped"; return false;
    case CopyOutcome::kReadError: message = "read error"; return false;
    case CopyOutcome::kWriteError:
      message = "write error -- check drives for sufficient space";
      return false;
  }
  stream.reset();
  if (in.close() != 0) {
    message = "close";
    return false;
  }
  if (out.close() != 0) {
    message = "close";
    return false;
  }
  return true;
}

// Creates the target under a free name; false with `out` invalid for a duplicate (success)
// or a failure (message set).
bool create_target(EngineContext& ctx, ImageRecord& r, std::string& target, UniqueFd& out,
                   bool& duplicate, std::string& message) {
  {
    std::lock_guard<std::recursive_mutex> lock(databaseLock);
    out.reset(open_unique_target(target, ctx, duplicate, r.source_path));
  }
  int create_errno = errno;
  log_printf("Copy %s\n\t\t\t\t--> %s", r.source_path.c_str(), target.c_str());
  if (out.valid()) return true;
  if (duplicate) {
    log_printf("\tDuplicate skipped.");
    ++ctx.counts.duplicates;
    return false;
  }
  if (create_errno != 0)
    ctx.report_printf("\nerror creating file; code = %d [%s]", create_errno, target.c_str());
  message = "File create error";
  return false;
}

bool check_copy(EngineContext& ctx, const ImageRecord& r, std::string& message) {
  if (!set_file_times(r.first_copy_path, r.modified))
    ctx.report_printf("\nWARNING: Failed to set modification time for %s\n",
                      r.first_copy_path.c_str());
  struct stat st;
  if (sysio().stat(r.first_copy_path.c_str(), &st) != 0) {
    message = "stat";
    return false;
  }
  if (static_cast<std::uint64_t>(st.st_size) != r.size) {
    message = "initial copy size error";
    return false;
  }
  return true;
}

void note_target(ImageRecord& r, const std::string& target) {
  r.first_copy_path = target;
  std::size_t sep = target.find_last_of("/\\");
  std::string name = target.substr(sep == std::string::npos ? 0 : sep + 1);
  // A suffix sits before a three-character extension, or after a longer one.
  const std::string ext = r.extension.empty() ? "" : "." + r.extension;
  bool has_ext = !ext.empty() && name.size() > ext.size() && name.ends_with(ext);
  r.new_base_name = has_ext ? name.substr(0, name.size() - ext.size()) : name;
}

// The source's modification time as the sidecar's date text.
std::string date_text(std::time_t when) {
  struct tm local;
  char text[32];
  if (!localtime_r(&when, &local) || std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local) == 0)
    return "00000000_000000";
  return text;
}

bool sidecar_for_first_copy(EngineContext& ctx, const ImageRecord& r) {
  const std::string date = date_text(r.modified);
  std::lock_guard<std::recursive_mutex> lock(databaseLock);
  return create_sidecar(ctx, r.source_path, &r.base_name, &date, &r.number_text, true,
                        r.first_copy_path);
}

// Without a backup the copy is final: it joins the run's GPS list when the run tags images.
// With one it lies in the pre-conversion tree, whose folders are burned apart.
void register_copy(EngineContext& ctx, const std::string& target) {
  if (!ctx.want_backup) {
    if (gps_tagging_enabled(ctx)) ctx.gps_list.push_back(target);
  } else {
    ctx.control().add_burn_folder(BurnList::kPreConversion, folder_of(target));
  }
}

bool is_jpg(const ImageRecord& r) { return strcasecmp(r.extension.c_str(), "JPG") == 0; }

// Merges the sidecar's XMP into a copied JPEG and decodes it. A JPEG that does not decode is
// counted and reported; the copy stays and the run goes on.
bool jpeg_steps(EngineContext& ctx, const ImageRecord& r, std::string& message) {
  const char* base = r.base_name.c_str();
  const char* ext = r.extension.c_str();
  ctx.status_printf("Writing XMP to JPEG: %s.%s (image %d)", base, ext, r.index + 1);
  if (ctx.xmp_to_jpg) {
    std::lock_guard<std::recursive_mutex> lock(databaseLock);
    if (!merge_xmp_into_jpeg(r.first_copy_path)) {
      message = "can't write XMP to JPEG";
      return false;
    }
  }
  if (!ctx.jpeg_verify) return true;
  ctx.status_printf("Verifying JPEG: %s.%s (image %d)", base, ext, r.index + 1);
  bool sound;
  {
    std::lock_guard<std::recursive_mutex> lock(databaseLock);
    sound = verify_jpeg(r.first_copy_path);
  }
  if (sound) {
    ++ctx.counts.jpegs_verified;
  } else {
    ++ctx.counts.jpegs_corrupt;
    ctx.report_printf("Corrupt JPEG: \"%s\"\n", r.first_copy_path.c_str());
  }
  return true;
}

}  // namespace

bool copy_image(EngineContext& ctx, ImageRecord& r, std::string& message) {
  if (ctx.stop_requested()) {
    message = "Stopped";
    return false;
  }
  ctx.status_printf("1st copy: %s.%s (image %d)", r.base_name.c_str(), r.extension.c_str(),
                    r.index + 1);
  std::string target;
  if (!form_target(ctx, r, target, message)) return false;
  if (target.size() > 4 && is_sidecar_path(target)) return true;
  ++ctx.counts.first_copies;
  ctx.first_copy_folder = folder_of(target);
  UniqueFd out;
  bool duplicate = false;
  if (!create_target(ctx, r, target, out, duplicate, message)) return duplicate;
  note_target(r, target);
  if (!sidecar_for_first_copy(ctx, r)) {
    out.close();
    message.clear();  // reported by the sidecar step
    return false;
  }
  register_copy(ctx, target);
  if (!copy_bytes(ctx, r, out, message) || !check_copy(ctx, r, message)) return false;
  // A final copy of a raw file gets its preview beside it; with a backup the second copy
  // does this in the primary tree.
  if (!ctx.want_backup && is_convertible_raw(ctx, r.first_copy_path) &&
      !extract_jpeg(ctx, nullptr, r.first_copy_path)) {
    message.clear();  // reported by the extraction
    return false;
  }
  if (is_jpg(r)) return jpeg_steps(ctx, r, message);
  return true;
}

}  // namespace cw
