// Card layouts: the video trees beside DCIM, clip companions and the long extensions that
// take sidecars.
#include "ingest/card_layout.h"

#include <strings.h>
#include <sys/stat.h>

namespace cw {

namespace {

bool same_ignoring_case(std::string_view a, const char* b) {
  return a.size() == std::char_traits<char>::length(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

bool in_list(std::string_view extension, std::initializer_list<const char*> list) {
  for (const char* e : list)
    if (same_ignoring_case(extension, e)) return true;
  return false;
}

// The companion names a clip may have, by what they add to its stem, in the order they are
// looked for: the camera writes capitals, a copy made elsewhere may not. One file of each
// group at most is the clip's (a file system that ignores case finds the first for both).
constexpr const char* kCompanionGroups[][2] = {{"M01.XML", "M01.xml"}, {".XML", ".xml"}};

std::string_view extension_of(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  const std::size_t sep = path.rfind('/');
  if (dot == std::string_view::npos || (sep != std::string_view::npos && sep > dot)) return {};
  return path.substr(dot + 1);
}

}  // namespace

const std::vector<VideoTree>& video_trees() {
  static const std::vector<VideoTree> trees{{"PRIVATE/M4ROOT", "CLIP"},
                                            {"PRIVATE/AVCHD", "BDMV/STREAM"}};
  return trees;
}

std::optional<std::string> card_root_of_dcim(const std::string& scan_root) {
  std::string root = scan_root;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  const std::size_t sep = root.rfind('/');
  if (sep == std::string::npos ||
      !same_ignoring_case(std::string_view(root).substr(sep + 1), "DCIM"))
    return std::nullopt;
  return sep == 0 ? std::string("/") : root.substr(0, sep);
}

bool is_video_extension(std::string_view extension) {
  return in_list(extension, {"MP4", "MOV", "M4V", "3GP", "INSV", "MTS", "M2TS", "M2T", "AVI",
                             "MPG", "MPEG", "WMV", "MKV", "MXF"});
}

bool is_long_sidecar_extension(std::string_view extension) {
  return extension.size() > 3 &&
         (in_list(extension, {"HEIC", "HEIF", "AVIF"}) || is_video_extension(extension));
}

std::optional<std::string> companion_stem(std::string_view name) {
  for (const auto& group : kCompanionGroups)
    for (const char* suffix : group) {
      const std::size_t n = std::char_traits<char>::length(suffix);
      if (name.size() > n && name.ends_with(suffix))
        return std::string(name.substr(0, name.size() - n));
    }
  return std::nullopt;
}

std::vector<ClipCompanion> clip_companions(const std::string& clip) {
  std::vector<ClipCompanion> out;
  const std::string_view extension = extension_of(clip);
  if (!is_video_extension(extension)) return out;
  const std::string stem = clip.substr(0, clip.size() - extension.size() - 1);
  for (const auto& group : kCompanionGroups)
    for (const char* suffix : group) {
      struct stat st;
      const std::string path = stem + suffix;
      if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        out.push_back({path, suffix});
        break;
      }
    }
  return out;
}

std::string companion_beside(const std::string& copy, const std::string& suffix) {
  const std::string_view extension = extension_of(copy);
  const std::size_t stem = extension.empty() && (copy.empty() || copy.back() != '.')
                               ? copy.size()
                               : copy.size() - extension.size() - 1;
  return copy.substr(0, stem) + suffix;
}

}  // namespace cw
