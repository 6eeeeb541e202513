// bench_jpeg_verify [FOLDER]: throughput of verify_jpeg against `djpeg -outfile /dev/null` on
// the same files, a set of 12–24 megapixel camera-like JPEGs written into FOLDER (a temporary
// folder by default; files already there are reused). Each file is timed several times with
// the two interleaved and the best time of each is kept, which keeps the figure steady on a
// busy machine. The headline ratio covers the baseline files at the fine qualities cameras
// write by default. Prints per-file bits per pixel, wall-clock and processor times and the ratio
// djpeg time / verify time; the processor-time ratio is the steadier one on a shared machine.
// Verification must entropy-decode every block, which costs the same as in djpeg, so the ratio
// falls as the bits per pixel rise; the reference rows show that spread. This is the cost of
// one check on one processor; what verification adds to an ingestion (the checks run on a pool
// of workers while the run copies) is the figure of bench/verified_ingest.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/user_interface.h"
#include "ingest/jpeg_verify.h"
#include "tests/fixtures/jpeg_maker.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Swallows the text pane so that timings are not disturbed by output.
class QuietUi : public cw::HeadlessUserInterface {
 public:
  void pane_append(const std::string&) override {}
};

struct Sample {
  const char* label;
  int width, height, quality, chroma_h, chroma_v;
  bool progressive;
  bool headline;  // counted in the totals; the others are shown for reference
};

// Camera-like sizes and settings: 12, 16, 20 and 24 megapixels, fine and normal quality,
// 4:2:2 as most cameras write and 4:2:0; for reference a camera's "normal" quality and one
// progressive file.
const Sample kSamples[] = {
    {"12MP q95 4:2:2", 4256, 2832, 95, 2, 1, false, true},
    {"16MP q92 4:2:0", 4928, 3264, 92, 2, 2, false, true},
    {"20MP q95 4:2:2", 5472, 3648, 95, 2, 1, false, true},
    {"24MP q90 4:2:2", 6000, 4000, 90, 2, 1, false, true},
    {"24MP q75 4:2:0 (reference)", 6000, 4000, 75, 2, 2, false, false},
    {"24MP q85 4:2:0 prog. (ref.)", 6000, 4000, 85, 2, 2, true, false},
};

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

double cpu_seconds(const struct rusage& r) {
  return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Times in seconds: wall clock and processor time (user + system) of one decode.
struct Timing {
  double wall = -1, cpu = -1;
};

Timing djpeg_once(const std::string& path) {
  const char* argv[] = {"djpeg", "-outfile", "/dev/null", path.c_str(), nullptr};
  const auto t0 = Clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, "djpeg", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
    return {};
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return {seconds_since(t0), cpu_seconds(usage)};
}

Timing verify_once(const std::string& path) {
  struct rusage before {}, after {};
  getrusage(RUSAGE_THREAD, &before);
  const auto t0 = Clock::now();
  const bool ok = cw::verify_jpeg(path);
  const double wall = seconds_since(t0);
  getrusage(RUSAGE_THREAD, &after);
  if (!ok) return {};
  return {wall, cpu_seconds(after) - cpu_seconds(before)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && std::string(argv[1]) == "--help")) {
    std::printf("Usage: bench_jpeg_verify [FOLDER]\n");
    return argc > 2 ? 2 : 0;
  }
  QuietUi ui;
  cw::set_log_front_end(&ui);
  const fs::path folder = argc == 2 ? fs::path(argv[1]) : fs::temp_directory_path() / "cw_bench_jpeg";
  fs::create_directories(folder);

  std::vector<std::string> files;
  for (const Sample& s : kSamples) {
    char name[64];
    std::snprintf(name, sizeof name, "%dx%d_q%d_%d%d%s.jpg", s.width, s.height, s.quality,
                  s.chroma_h, s.chroma_v, s.progressive ? "_p" : "");
    const std::string path = (folder / name).string();
    if (!fs::exists(path)) {
      cw::fixtures::JpegSpec spec;
      spec.width = s.width;
      spec.height = s.height;
      spec.quality = s.quality;
      spec.chroma_h = s.chroma_h;
      spec.chroma_v = s.chroma_v;
      spec.progressive = s.progressive;
      spec.exif = cw::fixtures::CameraInfo{};
      spec.seed = static_cast<unsigned>(s.width);
      if (!cw::fixtures::write_bytes(path, cw::fixtures::make_jpeg(spec))) {
        std::fprintf(stderr, "can't write %s\n", path.c_str());
        return 1;
      }
    }
    files.push_back(path);
  }

  constexpr int kRounds = 5;
  Timing total_djpeg{0, 0}, total_verify{0, 0};
  double total_mp = 0;
  std::printf("%-28s %7s %9s %9s %6s %9s %9s %6s\n", "file", "bits/px", "djpeg", "verify",
              "ratio", "djpeg", "verify", "ratio");
  std::printf("%-28s %7s %26s %26s\n", "", "", "---- wall clock (s) ----",
              "---- processor (s) ----");
  for (std::size_t i = 0; i < files.size(); ++i) {
    Timing best_djpeg{1e9, 1e9}, best_verify{1e9, 1e9};
    for (int r = 0; r < kRounds; ++r) {
      const Timing d = djpeg_once(files[i]);
      const Timing v = verify_once(files[i]);
      if (d.wall < 0 || v.wall < 0) {
        std::fprintf(stderr, "decoding %s failed\n", files[i].c_str());
        return 1;
      }
      best_djpeg = {std::min(best_djpeg.wall, d.wall), std::min(best_djpeg.cpu, d.cpu)};
      best_verify = {std::min(best_verify.wall, v.wall), std::min(best_verify.cpu, v.cpu)};
    }
    const double pixels = kSamples[i].width * double(kSamples[i].height);
    if (kSamples[i].headline) {
      total_djpeg.wall += best_djpeg.wall;
      total_djpeg.cpu += best_djpeg.cpu;
      total_verify.wall += best_verify.wall;
      total_verify.cpu += best_verify.cpu;
      total_mp += pixels / 1e6;
    }
    std::printf("%-28s %7.2f %9.3f %9.3f %5.2fx %9.3f %9.3f %5.2fx\n", kSamples[i].label,
                8.0 * double(fs::file_size(files[i])) / pixels, best_djpeg.wall, best_verify.wall,
                best_djpeg.wall / best_verify.wall, best_djpeg.cpu, best_verify.cpu,
                best_djpeg.cpu / best_verify.cpu);
  }
  std::printf("Totals over the fine-quality baseline files (what cameras write by default):\n");
  std::printf("throughput (wall clock): djpeg %.0f MP/s, verify_jpeg %.0f MP/s\n",
              total_mp / total_djpeg.wall, total_mp / total_verify.wall);
  std::printf("jpeg_verify ratio, wall clock (djpeg time / verify_jpeg time): %.2f\n",
              total_djpeg.wall / total_verify.wall);
  std::printf("jpeg_verify ratio, processor time: %.2f\n", total_djpeg.cpu / total_verify.cpu);
  return 0;
}
