// copy_image: target path, unique creation, byte copy, time and size checks.
#include "ingest/first_copy.h"

#include <fcntl.h>
#include <strings.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "foundation/fs.h"
#include "foundation/locks.h"
#include "foundation/log.h"
#include "foundation/sysio.h"
#include "ingest/copy_io.h"
#include "ingest/unique_target.h"
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

// Opens the image's bytes as a chunk reader: a camera stream or a file on disk.
bool open_source(const ImageRecord& r, ChunkReader& reader, UniqueFd& fd,
                 std::unique_ptr<CameraStream>& stream, std::string& message) {
  if (is_camera_path(r.source_path)) {
    stream = camera_source().open(r.source_path);
    if (!stream) {
      log_printf("Starting ingestion from PTP; can't open\"%s\"", r.source_path.c_str());
      message = "can't open PTP image";
      return false;
    }
    CameraStream* s = stream.get();
    reader = [s](void* buf, std::size_t n) { return s->read(buf, n); };
    return true;
  }
  fd.reset(sysio().open(r.source_path.c_str(), O_RDONLY | O_CLOEXEC, 0));
  if (!fd.valid()) {
    message = "can't open";
    return false;
  }
  int raw = fd.get();
  reader = [raw](void* buf, std::size_t n) -> long long { return read_some(raw, buf, n); };
  return true;
}

bool copy_bytes(EngineContext& ctx, const ImageRecord& r, UniqueFd& out, std::string& message) {
  ChunkReader reader;
  UniqueFd in;
  std::unique_ptr<CameraStream> stream;
  if (!open_source(r, reader, in, stream, message)) return false;
  switch (copy_chunks(ctx, reader, out.get(), r.first_copy_path)) {
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
    ++ctx.duplicates;
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

void note_target(EngineContext& ctx, ImageRecord& r, const std::string& target) {
  r.first_copy_path = target;
  std::size_t sep = target.find_last_of("/\\");
  std::string name = target.substr(sep == std::string::npos ? 0 : sep + 1);
  // A suffix sits before a three-character extension, or after a longer one.
  const std::string ext = r.extension.empty() ? "" : "." + r.extension;
  bool has_ext = !ext.empty() && name.size() > ext.size() && name.ends_with(ext);
  r.new_base_name = has_ext ? name.substr(0, name.size() - ext.size()) : name;
  if (!ctx.want_backup) {
    std::lock_guard<std::recursive_mutex> lock(databaseLock);
    ctx.gps_list.push_back(target);
  } else {
    ctx.control().add_burn_folder(BurnList::kPreConversion, folder_of(target));
  }
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
  ++ctx.first_copies;
  ctx.first_copy_folder = folder_of(target);
  UniqueFd out;
  bool duplicate = false;
  if (!create_target(ctx, r, target, out, duplicate, message)) return duplicate;
  note_target(ctx, r, target);
  if (!copy_bytes(ctx, r, out, message)) return false;
  return check_copy(ctx, r, message);
}

}  // namespace cw
