// An image's source and first-copy paths, each kept as its folder's text and its name.
#include "ingest/image_record.h"

#include "ingest/folder_table.h"

namespace cw {

namespace {

// The name `base` and `extension` give, appended to `out`.
void append_name(const std::string& base, const std::string& extension, std::string& out) {
  out += base;
  if (!extension.empty()) (out += '.') += extension;
}

// Keeps `path` as its folder's text (up to and with its last "/") and its name, the name only
// when it is not the one `base` and `extension` give.
void keep_path(FolderTable& folders, std::string_view path, const std::string& base,
               const std::string& extension, const std::string*& folder,
               const std::string*& name) {
  const std::size_t sep = path.rfind('/');
  const std::size_t name_at = sep == std::string_view::npos ? 0 : sep + 1;
  folder = &folders.intern(path.substr(0, name_at));
  std::string joined;
  append_name(base, extension, joined);
  name = joined == path.substr(name_at) ? nullptr : &folders.intern(path.substr(name_at));
}

void append_path(const std::string* folder, const std::string* name, const std::string& base,
                 const std::string& extension, std::string& out) {
  if (folder) out += *folder;
  if (name)
    out += *name;
  else
    append_name(base, extension, out);
}

}  // namespace

std::string ImageRecord::source_path() const {
  std::string path;
  append_path(source_folder, source_name, base_name, extension(), path);
  return path;
}

void ImageRecord::set_source(FolderTable& folders, std::string_view path) {
  keep_path(folders, path, base_name, extension(), source_folder, source_name);
}

std::string ImageRecord::first_copy_path() const {
  std::string path;
  append_first_copy_path(path);
  return path;
}

void ImageRecord::append_first_copy_path(std::string& out) const {
  if (has_first_copy())
    append_path(first_copy_folder, first_copy_name, new_base_name, extension(), out);
}

void ImageRecord::set_first_copy(FolderTable& folders, std::string_view path) {
  if (path.empty()) {
    first_copy_folder = first_copy_name = nullptr;
    return;
  }
  keep_path(folders, path, new_base_name, extension(), first_copy_folder, first_copy_name);
}

}  // namespace cw
