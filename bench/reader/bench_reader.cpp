// Capture-date extraction over the camera corpus (quick macro mode, warm cache), in files per
// second, printed beside exiftool and exiv2 reading DateTimeOriginal from the same files; then
// the same over today's still formats: CR3 raws and HEIC images (generated ones, one encoded
// by heif-enc when it is installed, and the shared corpus's modern files).
//
// Usage: bench_reader [FOLDER] (default: the shared camera corpus)
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imagefile/identity.h"
#include "imagefile/tv_reader.h"
#include "tests/fixtures/bmff_builder.h"
#include "tests/fixtures/jpeg_maker.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kMinSeconds = 2.0;  // each side runs at least this long
constexpr double kTarget = 50.0;     // times exiftool

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Files per second of our reader, reading each file's capture date.
double ours(const std::vector<std::string>& files, int& dated) {
  cw::TV_Reader reader;
  std::size_t done = 0;
  const auto start = Clock::now();
  do {
    dated = 0;
    for (const std::string& f : files) {
      reader.open(f, true, true);
      if (reader.image() && !cw::capture_datetime(*reader.image()).empty()) ++dated;
      ++done;
    }
  } while (seconds_since(start) < kMinSeconds);
  return static_cast<double>(done) / seconds_since(start);
}

// Files per second of an outside tool run once over all files (repeated to the minimum time).
double tool(const std::string& command_prefix, const std::vector<std::string>& files) {
  std::string command = command_prefix;
  for (const std::string& f : files) command += " '" + f + "'";
  command += " >/dev/null 2>&1";
  std::size_t done = 0;
  const auto start = Clock::now();
  do {
    if (std::system(command.c_str()) == -1) return 0;
    done += files.size();
  } while (seconds_since(start) < kMinSeconds);
  return static_cast<double>(done) / seconds_since(start);
}

bool have(const char* program) {
  return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Times our reader and the outside tools over `files`; 1 when the ratio to exiftool misses
// the target.
int measure(const char* what, const std::vector<std::string>& files) {
  int dated = 0;
  ours(files, dated);  // warm the cache
  const double our_rate = ours(files, dated);
  std::printf("capture dates of %zu %s (%d dated), quick macro mode, warm cache\n", files.size(),
              what, dated);
  std::printf("  cardwright reader : %10.0f files/s\n", our_rate);
  int status = 0;
  if (have("exiftool")) {
    const double rate = tool("exiftool -fast -DateTimeOriginal", files);
    std::printf("  exiftool -fast    : %10.0f files/s   ratio %.0fx (target %.0fx)\n", rate,
                our_rate / rate, kTarget);
    if (our_rate / rate < kTarget) status = 1;
  } else {
    std::printf("  exiftool          : not installed\n");
  }
  if (have("exiv2")) {
    const double rate = tool("exiv2 -g Exif.Photo.DateTimeOriginal", files);
    std::printf("  exiv2 -g          : %10.0f files/s   ratio %.0fx\n", rate, our_rate / rate);
  } else {
    std::printf("  exiv2             : not installed\n");
  }
  return status;
}

// CR3 and HEIC files written into `folder`: camera-like CR3 raws with previews, HEIC images
// with the Exif item in one or several extents, one encoded by heif-enc with EXIF written by
// exiftool, and the corpus's modern files.
std::vector<std::string> today_stills(const fs::path& folder) {
  using namespace cw::fixtures;
  std::vector<std::string> files;
  JpegSpec preview;
  preview.width = 640;
  preview.height = 480;
  JpegSpec thumbnail;
  thumbnail.width = 160;
  thumbnail.height = 120;
  constexpr int kEach = 20;
  for (int i = 0; i < kEach; ++i) {
    Cr3Spec cr3;
    cr3.info.make = "Canon";
    cr3.info.model = "Canon EOS R6";
    cr3.info.date_time_original = "2021:05:12 12:21:" + std::to_string(10 + i);
    cr3.thumbnail_jpeg = make_jpeg(thumbnail);
    cr3.preview_jpeg = make_jpeg(preview);
    cr3.xmp = sample_xmp_packet("bench");
    const std::string cr3_path = (folder / ("IMG_" + std::to_string(1000 + i) + ".CR3")).string();
    HeifSpec heif;
    CameraInfo info;
    info.date_time_original = cr3.info.date_time_original;
    heif.exif_tiff = build_exif_tiff(info);
    heif.exif_extents = 1 + i % 3;
    heif.xmp = cr3.xmp;
    const std::string heic_path = (folder / ("IMG_" + std::to_string(2000 + i) + ".HEIC")).string();
    if (write_bytes(cr3_path, build_cr3(cr3))) files.push_back(cr3_path);
    if (write_bytes(heic_path, build_heif(heif))) files.push_back(heic_path);
  }
  const std::string jpeg = (folder / "source.jpg").string();
  const std::string encoded = (folder / "encoded.heic").string();
  if (have("heif-enc") && have("exiftool") && write_bytes(jpeg, make_jpeg(preview)) &&
      std::system(("heif-enc -q 50 '" + jpeg + "' -o '" + encoded + "' >/dev/null 2>&1 && "
                   "exiftool -q -overwrite_original '-DateTimeOriginal=2022:11:12 13:14:15' '" +
                   encoded + "' >/dev/null 2>&1").c_str()) == 0)
    files.push_back(encoded);
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(CW_DEFAULT_MODERN_CORPUS, ec))
    if (e.is_regular_file() && e.path().filename() != "README.md")
      files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path folder = argc > 1 ? argv[1] : CW_DEFAULT_CORPUS;
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec))
    if (e.is_regular_file()) files.push_back(e.path().string());
  if (files.empty()) {
    std::fprintf(stderr, "bench_reader: no files in %s\n", folder.c_str());
    return 1;
  }
  std::sort(files.begin(), files.end());
  int status = measure("files", files);

  char work_template[] = "/tmp/bench_reader.XXXXXX";
  if (!::mkdtemp(work_template)) {
    std::fprintf(stderr, "bench_reader: can't make a work folder\n");
    return 1;
  }
  const fs::path work = work_template;
  std::printf("\n");
  status |= measure("CR3 and HEIC files", today_stills(work));
  fs::remove_all(work, ec);
  return status;
}
