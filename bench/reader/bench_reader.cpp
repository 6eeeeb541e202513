// Capture-date extraction over the camera corpus (quick macro mode, warm cache), in files per
// second, printed beside exiftool and exiv2 reading DateTimeOriginal from the same files.
//
// Usage: bench_reader [FOLDER] (default: the shared camera corpus)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imagefile/identity.h"
#include "imagefile/tv_reader.h"

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

  int dated = 0;
  ours(files, dated);  // warm the cache
  const double our_rate = ours(files, dated);
  std::printf("capture dates of %zu files (%d dated), quick macro mode, warm cache\n",
              files.size(), dated);
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
