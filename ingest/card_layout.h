// Card layouts: what a card holds besides DCIM and how its files belong together.
//
// A card is a mount with DCIM. Video cameras keep their clips outside it, in folders of their
// own (the clips of MP4 recording bodies in PRIVATE/M4ROOT/CLIP, AVCHD streams in
// PRIVATE/AVCHD/BDMV/STREAM); a scan of the card's DCIM, or of its root, takes those clip
// folders too. Everything else in those video trees (thumbnails, clip information, playlists,
// the camera's own indexes) is housekeeping the camera rebuilds, and stays on the card.
//
// A clip may have an XML companion beside it, the camera's record of the clip (C0001M01.XML
// beside C0001.MP4): it is no image, and it travels with its clip under the clip's new name.
//
// Also here: the file types a card holds today whose extensions are not three characters
// long but that get sidecars all the same (HEIC, AVIF, M2TS...).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cw {

// A camera's video tree below the card root and the folder of clips inside it.
struct VideoTree {
  const char* tree;   // below the card root: "PRIVATE/M4ROOT"
  const char* clips;  // below the tree: "CLIP"
};
// Every video tree a scan knows.
const std::vector<VideoTree>& video_trees();

// The card root of a scan root that is a card's DCIM folder ("/media/c/DCIM" or
// "/media/c/DCIM/" gives "/media/c"; "/DCIM" gives "/"); nothing for any other folder.
std::optional<std::string> card_root_of_dcim(const std::string& scan_root);

// True for the video types of cameras and phones (MP4, MOV, MTS, M2TS, INSV...), in any case.
bool is_video_extension(std::string_view extension);

// True for an extension longer than three characters whose files get sidecars like those of
// three-character ones: today's still images (HEIC, HEIF, AVIF) and videos (M2TS, INSV, MPEG).
bool is_long_sidecar_extension(std::string_view extension);

// A companion of a clip: the file on the card and what its name adds to the clip's stem
// ("M01.XML" for C0001M01.XML beside C0001.MP4, ".XML" for C0001.XML).
struct ClipCompanion {
  std::string path;
  std::string suffix;
};

// The stem a file named `name` would be the companion of ("C0001" for "C0001M01.XML" and
// for "C0001.XML"); nothing when the name has no companion's form.
std::optional<std::string> companion_stem(std::string_view name);

// The companions beside the clip at `clip` (a video file on disk): for each form of companion
// name, the file that exists as a regular file. None for a file that is not a video.
std::vector<ClipCompanion> clip_companions(const std::string& clip);

// Where a companion goes beside `copy`, a copy of its clip: the copy's name without its
// extension, then the suffix (NAME.MP4 gives NAMEM01.XML).
std::string companion_beside(const std::string& copy, const std::string& suffix);

}  // namespace cw
