// The image chooser's listing, filters, previews, capture times and archive marks.
#include "control/image_choice.h"

#include <dirent.h>
#include <sys/stat.h>

#include <libheif/heif.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "control/app_session.h"
#include "control/card_detection.h"
#include "control/start_flow.h"
#include "database/ledger_store.h"
#include "foundation/content_hash.h"
#include "foundation/path_guard.h"
#include "foundation/text.h"
#include "imagefile/bmff.h"
#include "imagefile/byte_source.h"
#include "imagefile/preview.h"
#include "imagefile/tv_reader.h"
#include "ingest/card_layout.h"
#include "ingest/run_ledger.h"
#include "ingest/scan.h"
#include "metadata/macro_exif.h"
#include "settings/param.h"
#include "settings/preferences.h"

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

// A poster or cover picture is read up to this size.
constexpr std::uint64_t kMaxPosterBytes = 8u << 20;
// HEIF images wider or higher than this are not decoded.
constexpr int kMaxHeifSide = 32768;

std::string extension_upper(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : ascii_upper(name.substr(dot + 1));
}

// "._NAME" holding the AppleDouble header: another system's companion of NAME.
bool is_apple_double(const std::string& path, const std::string& name) {
  static constexpr unsigned char kMagic[4] = {0x00, 0x05, 0x16, 0x07};
  if (name.size() < 3 || name.compare(0, 2, "._") != 0) return false;
  const std::unique_ptr<ByteSource> source = open_file_source(path);
  unsigned char head[sizeof kMagic];
  return source && source->read(head, sizeof head) == sizeof head &&
         std::memcmp(head, kMagic, sizeof head) == 0;
}

// `skip`: folders below the root (relative paths) that are not walked; `shown` names the
// folder in the images' `folder` field when it differs from `relative`.
void list_folder(const std::string& root, const std::string& relative, int depth,
                 const std::string& filter_list, bool include, std::vector<ChoiceImage>& out,
                 const std::set<std::string>& skip = {}, const std::string* shown = nullptr) {
  const std::string dir = relative.empty() ? root : root + "/" + relative;
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> files, folders;
  // Hidden files are images like any other, as the scan takes them; another system's
  // housekeeping and its "._NAME" companions are not.
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || name.empty()) continue;
    struct stat st {};
    const std::string path = dir + "/" + name;
    if (stat(path.c_str(), &st) != 0) continue;
    const bool folder = S_ISDIR(st.st_mode);
    if (is_housekeeping(name, folder) || (!folder && is_apple_double(path, name))) continue;
    if (folder)
      folders.push_back(name);
    else if (S_ISREG(st.st_mode))
      files.push_back(name);
  }
  closedir(d);
  std::sort(files.begin(), files.end(), path_less_nocase);
  std::sort(folders.begin(), folders.end(), path_less_nocase);
  // A clip's companion (C0001M01.XML beside C0001.MP4) goes with its clip: no tile of its own.
  std::set<std::string> clip_stems;
  for (const std::string& name : files)
    if (is_video_extension(extension_upper(name)))
      clip_stems.insert(ascii_upper(name.substr(0, name.rfind('.'))));
  for (const std::string& name : files) {
    int skipped = 0;
    if (skip_by_extension(name, include, filter_list, skipped)) continue;
    if (const std::optional<std::string> stem = companion_stem(name);
        stem && clip_stems.count(ascii_upper(*stem)))
      continue;
    ChoiceImage image;
    image.path = dir + "/" + name;
    image.folder = shown ? *shown : relative;
    image.name = name;
    image.type = extension_upper(name);
    image.video = is_video_extension(image.type);
    struct stat st {};
    if (stat(image.path.c_str(), &st) == 0) {
      image.mtime = st.st_mtime;
      image.size = static_cast<std::uint64_t>(st.st_size);
    }
    image.day = local_day(image.mtime);
    out.push_back(std::move(image));
  }
  if (depth >= kMaxFolderDepth || shown) return;
  for (const std::string& name : folders) {
    const std::string sub = relative.empty() ? name : relative + "/" + name;
    if (!skip.count(ascii_upper(sub)))
      list_folder(root, sub, depth + 1, filter_list, include, out, skip);
  }
}

// The card root of a listing's folder: the folder itself when it holds DCIM, its parent when
// it is a DCIM folder; none otherwise.
std::optional<std::string> card_root_of(const std::string& folder) {
  if (std::optional<std::string> root = card_root_of_dcim(folder)) return root;
  struct stat st {};
  if (stat((folder + "/DCIM").c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return folder;
  return std::nullopt;
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

// "YYYYMMDD_hhmmss" as "YYYY-MM-DD hh:mm:ss"; a file without one gives its modification time.
std::string capture_text(const std::string& path) {
  if (const std::optional<std::string> t = exif_capture_datetime(path);
      t && t->size() == 15 && (*t)[8] == '_')
    return t->substr(0, 4) + "-" + t->substr(4, 2) + "-" + t->substr(6, 2) + " " +
           t->substr(9, 2) + ":" + t->substr(11, 2) + ":" + t->substr(13, 2);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {};
  std::tm tm{};
  if (!localtime_r(&st.st_mtime, &tm)) return {};
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

// A HEIF image (HEIC, AVIF) decoded upright to RGB, scaled to fit `edge`. For a grid the
// thumbnail the file carries is taken when it is large enough, which spares the full decode.
bool decode_heif(const std::string& path, int edge, bool large, Thumbnail& t) {
  struct Free {
    void operator()(heif_context* c) const { heif_context_free(c); }
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
    void operator()(heif_image* i) const { heif_image_release(i); }
  };
  std::unique_ptr<heif_context, Free> context(heif_context_alloc());
  if (!context) return false;
  heif_context_set_maximum_image_size_limit(context.get(), kMaxHeifSide);
  if (heif_context_read_from_file(context.get(), path.c_str(), nullptr).code != heif_error_Ok)
    return false;
  heif_image_handle* raw_handle = nullptr;
  if (heif_context_get_primary_image_handle(context.get(), &raw_handle).code != heif_error_Ok)
    return false;
  std::unique_ptr<heif_image_handle, Free> handle(raw_handle);
  if (!large && heif_image_handle_get_number_of_thumbnails(handle.get()) > 0) {
    heif_item_id id = 0;
    heif_image_handle* thumb = nullptr;
    if (heif_image_handle_get_list_of_thumbnail_IDs(handle.get(), &id, 1) == 1 &&
        heif_image_handle_get_thumbnail(handle.get(), id, &thumb).code == heif_error_Ok) {
      std::unique_ptr<heif_image_handle, Free> small(thumb);
      if (heif_image_handle_get_width(thumb) >= edge / 2 ||
          heif_image_handle_get_height(thumb) >= edge / 2)
        handle = std::move(small);
    }
  }
  heif_image* raw_image = nullptr;
  if (heif_decode_image(handle.get(), &raw_image, heif_colorspace_RGB,
                        heif_chroma_interleaved_RGB, nullptr)
          .code != heif_error_Ok)
    return false;
  std::unique_ptr<heif_image, Free> image(raw_image);
  int w = heif_image_get_width(image.get(), heif_channel_interleaved);
  int h = heif_image_get_height(image.get(), heif_channel_interleaved);
  if (w <= 0 || h <= 0) return false;
  if (w > edge || h > edge) {
    const double f = static_cast<double>(edge) / std::max(w, h);
    const int sw = std::max(1, static_cast<int>(w * f)), sh = std::max(1, static_cast<int>(h * f));
    heif_image* scaled = nullptr;
    if (heif_image_scale_image(image.get(), &scaled, sw, sh, nullptr).code == heif_error_Ok) {
      image.reset(scaled);
      w = sw;
      h = sh;
    }
  }
  int stride = 0;
  const std::uint8_t* plane =
      heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (!plane || stride < w * 3) return false;
  t.bytes.resize(static_cast<std::size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    std::copy_n(plane + static_cast<std::ptrdiff_t>(y) * stride, w * 3,
                t.bytes.begin() + static_cast<std::ptrdiff_t>(y) * w * 3);
  t.width = w;
  t.height = h;
  t.kind = Thumbnail::Kind::kRgb;
  t.orientation = 1;  // the decoder applies the image's rotation and mirroring
  return true;
}

// The payload of the first box of each type along `chain`, below [begin, end); a meta box's
// children start after its version and flags.
bool find_path(BoxWalker& w, std::uint64_t begin, std::uint64_t end,
               std::initializer_list<const char*> chain, Box& found) {
  for (const char* type : chain) {
    const char t[5] = {type[0], type[1], type[2], type[3], 0};
    if (!w.find(begin, end, t, found)) return false;
    begin = found.payload + (found.is("meta") ? 4 : 0);
    end = found.end;
  }
  return true;
}

// A length in seconds from a movie or media header (mvhd, mdhd share their first fields):
// negative when the header gives no scale or no length.
double header_duration(BoxWalker& w, const Box& header) {
  std::uint8_t version = 0;
  std::uint32_t scale = 0;
  if (!w.u8(header.payload, version) || !w.u32(header.payload + (version == 1 ? 20 : 12), scale) ||
      scale == 0)
    return -1;
  std::uint64_t length = 0;
  std::uint32_t short_length = 0;
  if (version == 1 ? !w.u64(header.payload + 24, length)
                   : !(w.u32(header.payload + 16, short_length) && (length = short_length, true)))
    return -1;
  // All ones is "unknown", as is nothing.
  if (length == 0 || length == (version == 1 ? ~std::uint64_t{0} : 0xffffffffu)) return -1;
  return static_cast<double>(length) / scale;
}

// A movie's length: its movie header's, or when that gives none (a movie written as it was
// recorded leaves it unset) its longest track's.
double movie_duration(BoxWalker& w, const Box& moov) {
  Box mvhd;
  if (w.find(moov.payload, moov.end, "mvhd", mvhd))
    if (const double d = header_duration(w, mvhd); d > 0) return d;
  double longest = -1;
  w.for_each(moov.payload, moov.end, [&](const Box& trak) {
    Box mdia, mdhd;
    if (trak.is("trak") && w.find(trak.payload, trak.end, "mdia", mdia) &&
        w.find(mdia.payload, mdia.end, "mdhd", mdhd))
      longest = std::max(longest, header_duration(w, mdhd));
    return true;
  });
  return longest;
}

// The JPEG inside `bytes`: from its start marker to its last end marker (to the end when it
// has none). False when there is no JPEG start in it.
bool take_jpeg(const std::string& bytes, Thumbnail& t) {
  const std::size_t soi = bytes.find("\xFF\xD8\xFF");
  if (soi == std::string::npos) return false;
  const std::size_t eoi = bytes.rfind("\xFF\xD9");
  const std::size_t end = eoi == std::string::npos || eoi < soi ? bytes.size() : eoi + 2;
  t.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(soi),
                 bytes.begin() + static_cast<std::ptrdiff_t>(end));
  t.kind = Thumbnail::Kind::kJpeg;
  return true;
}

// A camera's own thumbnail inside the movie: a JPEG kept in a box of the user data (a
// thumbnail box, or a maker's box with the JPEG among its fields) or in a maker's uuid box of
// the movie box (where a THMB box holds it, as in the maker's raws).
bool read_camera_thumbnail(BoxWalker& w, const Box& moov, Thumbnail& t) {
  // In a maker's box the search starts at its THMB box, so that the metadata before it is not
  // taken for a picture.
  auto from = [&](const Box& box) {
    std::string bytes;
    if (box.payload_size() <= 4 || box.payload_size() > kMaxPosterBytes ||
        !w.read_at(box.payload, box.payload_size(), bytes))
      return false;
    const std::size_t thumbnail_box = bytes.find("THMB");
    return take_jpeg(thumbnail_box == std::string::npos ? bytes : bytes.substr(thumbnail_box), t);
  };
  bool found = false;
  w.for_each(moov.payload, moov.end, [&](const Box& box) {
    if (box.is("uuid")) {
      found = from(box);
    } else if (box.is("udta")) {
      w.for_each(box.payload, box.end, [&](const Box& item) {
        found = !item.is("meta") && from(item);  // the item list's cover is read before
        return !found;
      });
    }
    return !found;
  });
  return found;
}

// A movie's duration from its headers, and its poster: the cover picture of its item list (as
// media tools write it) or the camera's thumbnail inside it. QuickTime movies of older cameras
// start without a file type box; they are read all the same.
void read_movie(const std::string& path, Thumbnail& t) {
  const std::unique_ptr<ByteSource> source = open_file_source(path);
  if (!source) return;
  BoxWalker w(*source);
  Box moov;
  if (!w.find(0, w.size(), "moov", moov)) return;
  t.duration = movie_duration(w, moov);
  Box data;
  std::string bytes;
  if (find_path(w, moov.payload, moov.end, {"udta", "meta", "ilst", "covr", "data"}, data) &&
      data.payload_size() > 8 && data.payload_size() <= kMaxPosterBytes &&
      w.read_at(data.payload + 8, data.payload_size() - 8, bytes)) {
    t.bytes.assign(bytes.begin(), bytes.end());
    t.kind = Thumbnail::Kind::kJpeg;
    return;
  }
  read_camera_thumbnail(w, moov, t);
}

// The camera's poster beside a clip: a JPEG named as the clip with the extension THM.
void read_clip_poster(const std::string& path, Thumbnail& t) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos) return;
  for (const char* ext : {".THM", ".thm"}) {
    const std::unique_ptr<ByteSource> source = open_file_source(path.substr(0, dot) + ext);
    if (!source || source->size() < 4 || source->size() > kMaxPosterBytes) continue;
    t.bytes.resize(static_cast<std::size_t>(source->size()));
    if (source->read(t.bytes.data(), t.bytes.size()) == t.bytes.size() && t.bytes[0] == 0xFF &&
        t.bytes[1] == 0xD8) {
      t.kind = Thumbnail::Kind::kJpeg;
      return;
    }
    t.bytes.clear();
  }
}

bool is_heif_type(const std::string& type) {
  return type == "HEIC" || type == "HEIF" || type == "HIF" || type == "AVIF";
}

bool is_jpeg_name(const std::string& path) {
  const std::string ext = reader_extension(path);
  return ext == "jpg" || ext == "jpe" || ext == "jpeg";
}

// The preview of a DNG written by a phone or a converter: a directory of reduced resolution
// whose single strip is a JPEG in YCbCr (Compression 7). The smallest for a grid, the largest
// for a large view.
bool read_ycbcr_jpeg_strip(TV_Reader& reader, bool large, Thumbnail& t) {
  TV_Image* im = reader.image();
  if (!im || !im->root) return false;
  TV_IFD* best = nullptr;
  auto consider = [&](TV_IFD* d) {
    if (!d || d->compression != 7 || d->photometric != 6 || d->strip_offsets.size() != 1 ||
        d->strip_byte_counts < 4)
      return;
    if (!best || (large ? d->strip_byte_counts > best->strip_byte_counts
                        : d->strip_byte_counts < best->strip_byte_counts))
      best = d;
  };
  for (TV_IFD* d = im->root.get(); d; d = d->next.get()) {
    consider(d);
    for (int i = 0; i < d->sub_ifd_count; ++i) consider(d->sub_ifds[i].get());
  }
  if (!best || !read_jpeg(reader, best, t.bytes) || t.bytes.size() < 4 || t.bytes[0] != 0xFF ||
      t.bytes[1] != 0xD8) {
    t.bytes.clear();
    return false;
  }
  t.kind = Thumbnail::Kind::kJpeg;
  return true;
}

Thumbnail read_preview(const std::string& path, int edge, bool large) {
  Thumbnail t;
  t.captured = capture_text(path);
  const std::string type = extension_upper(path.substr(path.rfind('/') + 1));
  t.file_is_jpeg = is_jpeg_name(path);
  if (is_video_extension(type)) {
    t.video = true;
    read_movie(path, t);
    if (t.kind == Thumbnail::Kind::kNone) read_clip_poster(path, t);
    return t;
  }
  if (is_heif_type(type) && decode_heif(path, edge, large, t)) return t;
  TV_Reader reader(large);
  if (!reader.open(path, false, false)) {
    // A JPEG without a readable EXIF segment is still a picture.
    if (t.file_is_jpeg) t.kind = Thumbnail::Kind::kJpegFile;
    return t;
  }
  if (const TV_Image* im = reader.image()) {
    t.orientation = im->orientation ? im->orientation : 1;
    t.file_is_jpeg = t.file_is_jpeg || im->jpeg;
  }
  // A large view of a JPEG is the file itself, never its embedded thumbnail.
  if (large && t.file_is_jpeg) {
    t.kind = Thumbnail::Kind::kJpegFile;
    return t;
  }
  const PreviewChoice choice = choose_preview(reader);
  if (choice.directory && !choice.jpeg && read_rgb(*choice.directory, t)) return t;
  if (choice.directory && choice.jpeg && read_jpeg(reader, choice.directory, t.bytes) &&
      t.bytes.size() > 2 && t.bytes[0] == 0xFF && t.bytes[1] == 0xD8) {
    t.kind = Thumbnail::Kind::kJpeg;
    return t;
  }
  t.bytes.clear();
  if (read_ycbcr_jpeg_strip(reader, large, t)) return t;
  if (t.file_is_jpeg) t.kind = Thumbnail::Kind::kJpegFile;
  return t;
}

}  // namespace

std::vector<ChoiceImage> list_choice_images(const std::string& folder, bool include,
                                            const std::string& extensions) {
  std::vector<ChoiceImage> out;
  std::string root = folder;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  const std::string filter = ascii_upper(" " + extensions + " ");
  const std::optional<std::string> card = card_root_of(root);
  // From the card root the video trees are housekeeping apart from their clip folders, which
  // come last, as the scan takes them.
  std::set<std::string> skip;
  if (card && *card == root)
    for (const VideoTree& t : video_trees()) skip.insert(ascii_upper(t.tree));
  list_folder(root, "", 0, filter, include, out, skip);
  if (!card) return out;
  for (const VideoTree& t : video_trees()) {
    const std::string below = std::string(t.tree) + "/" + t.clips;
    const std::string clips = *card + (card->back() == '/' ? "" : "/") + below;
    // Beside a DCIM the clip folder shows by its own name, from the card root by its path.
    const std::string name = *card == root ? below : below.substr(below.rfind('/') + 1);
    std::vector<ChoiceImage> found;
    list_folder(clips, "", 0, filter, include, found, {}, &name);
    for (ChoiceImage& i : found) out.push_back(std::move(i));
  }
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

Thumbnail read_thumbnail(const std::string& path, int edge) {
  return read_preview(path, edge, false);
}

Thumbnail read_large_preview(const std::string& path, int edge) {
  return read_preview(path, edge, true);
}

std::vector<bool> archived_images(AppSession& session, const std::vector<ChoiceImage>& images) {
  std::vector<bool> archived(images.size(), false);
  Database* db = session.database();
  if (!db || images.empty()) return archived;
  // The run's first-copy tree, and its proof of copies of earlier runs, as a Start would take
  // them: an image counts as archived only by a copy there that the run would let stand.
  const ParamList& params = session.settings().params;
  const std::optional<std::string> first_copy_root = real_path_of(
      params.text(params.flag(kParamWantBackup) ? kParamBackupFolder : kParamPrimaryFolder));
  if (!first_copy_root) return archived;  // no such tree yet: nothing is in it
  const CopyProof proof{pref_get_int("VerifyCopies") != 0, pref_get_int("ReverifyCopies") != 0};
  // The ledger asked as a run asks it; nothing of it is stored.
  RunLedger ledger;
  ledger.attach(db);
  std::vector<std::uint64_t> sizes;
  for (const ChoiceImage& i : images) sizes.push_back(i.size);
  ledger.learn_sizes(sizes);
  const std::unique_ptr<DriveSource> drives = session.open_drives();
  std::map<std::string, bool> local_times;  // by folder: whether its card keeps wall-clock times
  constexpr std::size_t kBuffer = 1u << 20;
  const std::unique_ptr<char[]> buffer = std::make_unique<char[]>(kBuffer);
  for (std::size_t n = 0; n < images.size(); ++n) {
    const ChoiceImage& image = images[n];
    const std::string folder = image.path.substr(0, image.path.find_last_of('/') + 1);
    auto zone = local_times.find(folder);
    if (zone == local_times.end())
      zone = local_times.emplace(folder, card_volume(*drives, folder).local_times).first;
    Hash128 hash;
    if (!ledger.may_hold(image.size, image.mtime, zone->second) ||
        !hash_file(image.path, hash, buffer.get(), kBuffer))
      continue;
    const std::optional<std::size_t> entry = ledger.find(hash, image.size);
    if (!entry) continue;
    LedgerEntry& e = ledger.at(*entry);
    // A copy that must be read back stands when it still holds what was recorded of it (a
    // converted one without a hash yet is hashed now, as the run hashes it).
    const auto read_back = [&e, &buffer](std::size_t copy) {
      const LedgerCopy& c = e.copies[copy];
      Hash128 there;
      if (!hash_file(c.path, there, buffer.get(), kBuffer)) return false;
      return c.hash ? there == *c.hash : c.state == CopyState::kConverted;
    };
    archived[n] = standing_copy_in_tree(e, *first_copy_root, proof, read_back).has_value();
  }
  return archived;
}

std::string chooser_folder(AppSession& session) {
  std::string folder = session.settings().master().get_str("CardFolder").value_or("");
  if (folder == "[user choice]") folder = choose_card(session);
  if (folder.rfind("ptp/", 0) == 0) {
    // A camera's images come one by one over its cable: a grid of them would read each one
    // whole before a tile could show, so a camera is taken by Start as a whole instead.
    session.ui().alert(kCameraNotChosenMessage);
    return {};
  }
  return folder;
}

}  // namespace cw
