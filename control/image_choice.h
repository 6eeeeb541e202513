// The image chooser's data, without windows: the images of a folder tree as the chooser lists
// them (the scan's order and the master preset's extension filter, so that it shows what an
// ingestion of the folder would take), the folder, day and type filters, and the small
// preview each image carries (the embedded thumbnail of a camera file, read by the image
// reader, so that no full image is decoded for a thumbnail).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace cw {

class AppSession;

struct ChoiceImage {
  std::string path;    // full path
  std::string folder;  // folder relative to the chosen folder ("" for the folder itself)
  std::string name;    // file name
  std::string type;    // extension in upper case, without its dot ("" when none)
  std::time_t mtime = 0;
  std::string day;  // the modification day, "YYYY-MM-DD" in local time
};

// The images below `folder`, depth first: per folder its files in case-insensitive name
// order, then its subfolders in the same order; files the extension filter leaves out (and
// sidecars) are not listed. `extensions` is the filter's list ("JPG CR2"), `include` says
// whether it lists what to take. An unreadable folder gives what could be read.
std::vector<ChoiceImage> list_choice_images(const std::string& folder, bool include,
                                            const std::string& extensions);
// The same with the master preset's extension filter.
std::vector<ChoiceImage> list_choice_images(AppSession& session, const std::string& folder);

// The filters; an empty value admits everything.
struct ChoiceFilter {
  std::string folder, day, type;
  bool admits(const ChoiceImage& image) const;
};

// The distinct folders, days and types of a list, sorted, for the filter choices.
struct ChoiceFacets {
  std::vector<std::string> folders, days, types;
};
ChoiceFacets choice_facets(const std::vector<ChoiceImage>& images);

// The chosen-image list handed to the Start flow: the paths of the ticked images in list
// order.
std::vector<std::string> chosen_paths(const std::vector<ChoiceImage>& images,
                                      const std::vector<bool>& ticked);

// What the chooser shows for an image.
struct Thumbnail {
  enum class Kind {
    kNone,      // no preview could be found (the chooser shows a plain placeholder)
    kJpeg,      // `bytes` is a JPEG stream (an embedded thumbnail or preview)
    kJpegFile,  // the file itself is a JPEG without a thumbnail: decode it scaled down
    kRgb,       // `bytes` holds width x height pixels of 8-bit RGB
  };
  Kind kind = Kind::kNone;
  std::vector<std::uint8_t> bytes;
  int width = 0, height = 0;
  std::uint32_t orientation = 1;  // EXIF orientation (1 upright, 3, 6, 8 rotated)
};

// Reads the embedded preview of a camera file: the smallest JPEG or small RGB thumbnail the
// file carries. Safe to call from several threads at once (each call has its own reader).
Thumbnail read_thumbnail(const std::string& path);

// The folder the chooser opens: the master's "CardFolder", or the card the user picks when
// that is "[user choice]" (the recorded card, a camera or another folder). Empty when the
// user made no choice.
std::string chooser_folder(AppSession& session);

}  // namespace cw
