// The image chooser's listing, filters and thumbnails.
#include "control/image_choice.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "control/app_session.h"
#include "control/start_flow.h"
#include "foundation/text.h"
#include "imagefile/preview.h"
#include "imagefile/tv_reader.h"
#include "ingest/scan.h"
#include "settings/param.h"

namespace cw {

namespace {

// An RGB thumbnail larger than this in either direction is not worth reading for a grid.
constexpr std::uint32_t kLargestRgbThumbnail = 1024;
// Folders nested deeper than this are not listed (a loop of links must end).
constexpr int kMaxFolderDepth = 32;

std::string local_day(std::time_t t) {
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return "0000-00-00";
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
  return buf;
}

void list_folder(const std::string& root, const std::string& relative, int depth,
                 const std::string& filter_list, bool include, std::vector<ChoiceImage>& out) {
  const std::string dir = relative.empty() ? root : root + "/" + relative;
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> files, folders;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || name.empty() || name[0] == '.') continue;
    struct stat st {};
    if (stat((dir + "/" + name).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode))
      folders.push_back(name);
    else if (S_ISREG(st.st_mode))
      files.push_back(name);
  }
  closedir(d);
  std::sort(files.begin(), files.end(), path_less_nocase);
  std::sort(folders.begin(), folders.end(), path_less_nocase);
  for (const std::string& name : files) {
    int skipped = 0;
    if (skip_by_extension(name, include, filter_list, skipped)) continue;
    ChoiceImage image;
    image.path = dir + "/" + name;
    image.folder = relative;
    image.name = name;
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) image.type = ascii_upper(name.substr(dot + 1));
    struct stat st {};
    if (stat(image.path.c_str(), &st) == 0) image.mtime = st.st_mtime;
    image.day = local_day(image.mtime);
    out.push_back(std::move(image));
  }
  if (depth >= kMaxFolderDepth) return;
  for (const std::string& name : folders)
    list_folder(root, relative.empty() ? name : relative + "/" + name, depth + 1, filter_list,
                include, out);
}

// Reads the pixels of an uncompressed RGB thumbnail; false when it is not plain 8-bit RGB.
bool read_rgb(TV_IFD& d, Thumbnail& t) {
  if (d.samples_per_pixel != 3 || d.bits_per_sample[0] != 8 || d.image_width == 0 ||
      d.image_length == 0 || d.image_width > kLargestRgbThumbnail ||
      d.image_length > kLargestRgbThumbnail)
    return false;
  const std::size_t want = static_cast<std::size_t>(d.image_width) * d.image_length * 3;
  std::vector<std::uint8_t> strip;
  for (std::size_t i = 0; i < d.strip_offsets.size() && t.bytes.size() < want; ++i) {
    if (!d.read_strip(i, strip)) return false;
    t.bytes.insert(t.bytes.end(), strip.begin(), strip.end());
  }
  if (t.bytes.size() < want) return false;
  t.bytes.resize(want);
  t.width = static_cast<int>(d.image_width);
  t.height = static_cast<int>(d.image_length);
  t.kind = Thumbnail::Kind::kRgb;
  return true;
}

bool is_jpeg_name(const std::string& path) {
  const std::string ext = reader_extension(path);
  return ext == "jpg" || ext == "jpe" || ext == "jpeg";
}

}  // namespace

std::vector<ChoiceImage> list_choice_images(const std::string& folder, bool include,
                                            const std::string& extensions) {
  std::vector<ChoiceImage> out;
  std::string root = folder;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  list_folder(root, "", 0, ascii_upper(" " + extensions + " "), include, out);
  return out;
}

std::vector<ChoiceImage> list_choice_images(AppSession& session, const std::string& folder) {
  bool include = false;
  const std::string list = session.settings().master().extensions(include);
  return list_choice_images(folder, include, list);
}

bool ChoiceFilter::admits(const ChoiceImage& image) const {
  return (folder.empty() || image.folder == folder) && (day.empty() || image.day == day) &&
         (type.empty() || image.type == type);
}

ChoiceFacets choice_facets(const std::vector<ChoiceImage>& images) {
  std::set<std::string> folders, days, types;
  for (const ChoiceImage& i : images) {
    folders.insert(i.folder);
    days.insert(i.day);
    types.insert(i.type);
  }
  return {
      {folders.begin(), folders.end()}, {days.begin(), days.end()}, {types.begin(), types.end()}};
}

std::vector<std::string> chosen_paths(const std::vector<ChoiceImage>& images,
                                      const std::vector<bool>& ticked) {
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < images.size() && i < ticked.size(); ++i)
    if (ticked[i]) paths.push_back(images[i].path);
  return paths;
}

Thumbnail read_thumbnail(const std::string& path) {
  Thumbnail t;
  TV_Reader reader(false);
  if (!reader.open(path, false, false)) {
    // A JPEG without a readable EXIF segment is still a picture.
    if (is_jpeg_name(path)) t.kind = Thumbnail::Kind::kJpegFile;
    return t;
  }
  if (const TV_Image* im = reader.image()) t.orientation = im->orientation ? im->orientation : 1;
  const PreviewChoice choice = choose_preview(reader);
  if (choice.directory && !choice.jpeg && read_rgb(*choice.directory, t)) return t;
  if (choice.directory && choice.jpeg && read_jpeg(reader, choice.directory, t.bytes) &&
      t.bytes.size() > 2 && t.bytes[0] == 0xFF && t.bytes[1] == 0xD8) {
    t.kind = Thumbnail::Kind::kJpeg;
    return t;
  }
  t.bytes.clear();
  if (reader.image() && reader.image()->jpeg) t.kind = Thumbnail::Kind::kJpegFile;
  return t;
}

std::string chooser_folder(AppSession& session) {
  std::string folder = session.settings().master().get_str("CardFolder").value_or("");
  if (folder == "[user choice]") folder = choose_card(session);
  return folder;
}

}  // namespace cw
