// An image's source path, kept as its folder's text and its name.
#include "ingest/image_record.h"

#include "ingest/folder_table.h"

namespace cw {

namespace {

// The name base_name and extension give, appended to `out`.
void append_name(const ImageRecord& r, std::string& out) {
  out += r.base_name;
  if (!r.extension.empty()) (out += '.') += r.extension;
}

}  // namespace

std::string ImageRecord::source_path() const {
  std::string path;
  if (source_folder) path = *source_folder;
  if (source_name) return path += *source_name;
  append_name(*this, path);
  return path;
}

void ImageRecord::set_source(FolderTable& folders, std::string_view path) {
  const std::size_t sep = path.rfind('/');
  const std::size_t name_at = sep == std::string_view::npos ? 0 : sep + 1;
  source_folder = &folders.intern(path.substr(0, name_at));
  const std::string_view name = path.substr(name_at);
  std::string joined;
  append_name(*this, joined);
  source_name = joined == name ? nullptr : &folders.intern(name);
}

}  // namespace cw
