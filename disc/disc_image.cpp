// Layout of one disc's image: folder paths, file paths with their name rules, sources.
#include "disc/disc_image.h"

#include <sys/stat.h>

#include <map>
#include <set>

#include "disc/image_estimate.h"
#include "foundation/sysio.h"
#include "foundation/text.h"

namespace cw {

namespace {

constexpr int kMaxNameSuffix = 999;

std::string join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace

std::string disc_source_path(const DiscSet& set, const DiscFolder& folder,
                             const std::string& name) {
  return join(join(set.root, folder.name), name);
}

bool lay_out_disc(const DiscSet& set, std::size_t index, DiscImage& image, std::string& message) {
  image = DiscImage{};
  if (index >= set.discs.size()) {
    message = "Disc number error";
    return false;
  }
  image.volume_id = disc_label(set, index);
  const Disc& disc = set.discs[index];

  // Names taken in each folder of the disc. Folders come first, so a subfolder keeps its name
  // and a file that would clash with it is renamed.
  std::map<std::string, std::set<std::string>> taken;
  std::set<std::string> folders;
  for (const DiscFolder& f : disc.folders) {
    std::string path;
    std::size_t start = 0;
    while (start < f.name.size()) {
      std::size_t end = f.name.find('/', start);
      if (end == std::string::npos) end = f.name.size();
      std::string part = f.name.substr(start, end - start);
      start = end + 1;
      if (part.empty()) continue;
      std::string child = join(path, part);
      if (folders.insert(child).second) {
        image.folders.push_back(child);
        taken[path].insert(part);
      }
      path = child;
    }
  }

  ImageEstimate estimate;
  for (const std::string& folder : image.folders) estimate.add_folder(folder);
  for (const DiscFolder& f : disc.folders) {
    std::set<std::string>& names = taken[f.name];
    for (const std::string& name : f.files) {
      std::string source = disc_source_path(set, f, name);
      if (source.size() >= kMaxPathChars) {
        message = format_limited(1000, "Name %s is too long.", source.c_str());
        return false;
      }
      struct stat st;
      const bool found = sysio().lstat(source.c_str(), &st) == 0;
      if (found && !S_ISREG(st.st_mode)) {
        image.skipped.push_back(SkippedEntry{source, S_ISLNK(st.st_mode)});
        continue;
      }
      std::string unique = name;
      for (int n = 1; names.count(unique) != 0; ++n) {
        if (n > kMaxNameSuffix) {
          message = format_limited(1000, "Failed to add file %s", source.c_str());
          return false;
        }
        unique = format_limited(1000, "%s_%03d", name.c_str(), n);
      }
      names.insert(unique);
      image.files.push_back(ImageFile{join(f.name, unique), source});
      // A source that cannot be examined fails when it is added to the image.
      if (found) estimate.add_file(f.name, unique, static_cast<std::uint64_t>(st.st_size));
    }
  }
  image.size = disc.size;
  image.image_size = estimate.bytes();
  return true;
}

}  // namespace cw
