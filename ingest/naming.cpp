// Naming of one image (source name kept; see naming.h).
#include "ingest/naming.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "platform/camera_source.h"

namespace cw {

namespace {

constexpr std::size_t kMaxSourcePath = 999;

// Examines a source on disk or on the camera: its size and modification time.
bool examine_source(const std::string& path, std::uint64_t& size, std::time_t& modified) {
  errno = 0;
  if (is_camera_path(path)) {
    CameraFileInfo info;
    if (!camera_source().stat(path, info)) return false;
    size = info.size;
    modified = info.modified;
    return true;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  size = static_cast<std::uint64_t>(st.st_size);
  modified = st.st_mtime;
  return true;
}

}  // namespace

std::string number_text_for(int number_range_source, const std::string& base_name,
                            long sequence) {
  if (number_range_source == 1) return base_name.size() >= 8 ? base_name.substr(4, 4) : "";
  char text[32];
  std::snprintf(text, sizeof text, "%06ld", sequence);
  return text;
}

bool name_image(EngineContext& ctx, ImageRecord& record, std::string& message) {
  if (record.source_path.size() > kMaxSourcePath) {
    message = "path too long";
    return false;
  }
  if (!examine_source(record.source_path, record.size, record.modified)) {
    log_printf("Error accessing path %s %s", record.source_path.c_str(),
               errno ? std::strerror(errno) : "");
    message = "error accessing path (1)";
    return false;
  }
  long sequence = ctx.control().take_sequence_number();
  record.number_text = number_text_for(ctx.number_range_source, record.base_name, sequence);
  record.new_base_name = record.base_name;
  record.target_folder.assign(1, '.');  // the first-copy root itself
  return true;
}

}  // namespace cw
