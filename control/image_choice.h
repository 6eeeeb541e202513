// The image chooser's data, without windows: the images of a folder tree as the chooser lists
// them (the scan's order and the master preset's extension filter, so that it shows what an
// ingestion of the folder would take, clips of a card's video folders included), the folder,
// day and type filters, which images the ingest ledger knows as archived already, and the
// preview each image carries (the embedded preview of a camera file, read by the image reader,
// so that no full raw is decoded for a thumbnail; HEIF images decoded by their library; a
// movie's poster where the file or its camera gives one) with its capture time.
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
  std::uint64_t size = 0;
  bool video = false;  // a movie clip
};

// The images below `folder`, depth first: per folder its files in case-insensitive name
// order, then its subfolders in the same order; files the extension filter leaves out (and
// sidecars) are not listed. `extensions` is the filter's list ("JPG CR2"), `include` says
// whether it lists what to take. An unreadable folder gives what could be read.
std::vector<ChoiceImage> list_choice_images(const std::string& folder, bool include,
                                            const std::string& extensions);
// Clips of a card's video folders (below PRIVATE/...) are listed after the rest, as the scan
// takes them, when `folder` is a card's DCIM or a card's root.
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
    kJpeg,      // `bytes` is an encoded picture: an embedded JPEG preview, a movie's poster
    kJpegFile,  // the file itself is a JPEG without a thumbnail: decode it scaled down
    kRgb,       // `bytes` holds width x height pixels of 8-bit RGB
  };
  Kind kind = Kind::kNone;
  std::vector<std::uint8_t> bytes;
  int width = 0, height = 0;
  std::uint32_t orientation = 1;  // EXIF orientation (1 upright, 3, 6, 8 rotated)
  // The file itself is a JPEG: when `bytes` cannot be decoded (an embedded thumbnail cut
  // short or damaged), the file is decoded instead.
  bool file_is_jpeg = false;
  // The capture time naming uses, "YYYY-MM-DD hh:mm:ss"; the modification time when the file
  // records none.
  std::string captured;
  bool video = false;
  double duration = -1;  // a movie's length in seconds; negative when unknown
};

// Reads the preview of an image for a grid: the smallest JPEG or small RGB thumbnail a camera
// file carries, a HEIF image decoded to at most `edge` pixels, a movie's poster (a cover
// picture in the movie, or the camera's THM picture beside the clip) and its duration; with
// the capture time. Safe to call from several threads at once (each call has its own reader).
Thumbnail read_thumbnail(const std::string& path, int edge = 256);
// The same for a large view: the largest embedded preview, a HEIF image at up to `edge`.
Thumbnail read_large_preview(const std::string& path, int edge = 2048);

// For each image, whether an ingestion with the current settings would skip it as already in
// the archive: a file of its size and modification time was taken before (a shift of zone
// allowed on a card that keeps wall-clock times), its content hash is the ledger's, and a copy
// recorded of it in the first-copy tree still stands as the run proves copies of earlier runs
// (run_ledger.h: its fingerprint unchanged, or read back with its recorded hash). All false
// without a database. Reads the candidates' bytes: run it off the window's thread.
std::vector<bool> archived_images(AppSession& session, const std::vector<ChoiceImage>& images);

// The folder the chooser opens: the master's "CardFolder", or the card the user picks when
// that is "[user choice]" (the recorded card, a camera or another folder). Empty when the
// user made no choice, and when a camera was picked: its images are not listed one by one, and
// the user is told so.
std::string chooser_folder(AppSession& session);
inline constexpr const char* kCameraNotChosenMessage =
    "The images of a camera connected by cable cannot be chosen one by one. Press Start to "
    "ingest all of them, or choose them on its card in a card reader.";

}  // namespace cw
