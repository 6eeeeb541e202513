// Writing a planned disc set to image files against `xorriso -as mkisofs -J -R -o` over the
// same folders, printed as the median ratio ours/xorriso (target: at most 1.2).
//
// The folders hold photo-sized files of incompressible bytes, --size-mb MiB in all, planned
// onto one disc. Each timing starts after a sync and ends after the image is synced, so both
// tools pay for getting their bytes to the disk; the runs alternate the two tools.
//
// Usage: bench_disc_write [--size-mb N] [--runs N] [--dir DIR]
//        (defaults: 1024 MiB, 5 runs, the temporary folder)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "disc/burn.h"
#include "foundation/log.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr double kTarget = 1.2;

// Photo-sized files (3 to 9 MB) of pseudo-random bytes in eight folders.
void make_source(const fs::path& root, std::uint64_t bytes) {
  std::uint64_t state = 0x9e3779b97f4a7c15ULL;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
  std::uint64_t written = 0;
  for (int n = 0; written < bytes; ++n) {
    fs::path folder = root / ("2026-12-0" + std::to_string(n % 8 + 1));
    fs::create_directories(folder);
    std::uint64_t size = (3 + next() % 7) * 1'000'000;
    std::ofstream out(folder / ("IMG_" + std::to_string(1000 + n) + ".CR2"), std::ios::binary);
    for (std::uint64_t left = size; left > 0;) {
      for (auto& w : block) w = next();
      std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size() * 8));
      out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(chunk));
      left -= chunk;
    }
    written += size;
  }
}

double timed(const std::function<bool()>& work) {
  ::sync();
  const auto start = Clock::now();
  if (!work()) {
    std::fprintf(stderr, "bench_disc_write: a write failed\n");
    std::exit(1);
  }
  ::sync();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t size_mb = 1024;
  int runs = 5;
  fs::path base = fs::temp_directory_path();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size-mb") == 0)
      size_mb = std::strtoull(argv[i + 1], nullptr, 10);
    else if (std::strcmp(argv[i], "--runs") == 0)
      runs = std::atoi(argv[i + 1]);
    else if (std::strcmp(argv[i], "--dir") == 0)
      base = argv[i + 1];
  }
  if (std::system("command -v xorriso >/dev/null 2>&1") != 0) {
    std::fprintf(stderr, "bench_disc_write: xorriso not found\n");
    return 1;
  }
  fs::path work = base / ("cw-disc-bench." + std::to_string(getpid()));
  fs::path source = work / "source", ours_dir = work / "ours", theirs = work / "xorriso.iso";
  fs::create_directories(ours_dir);
  cw::log_set_path((work / "cw_log.txt").string());
  std::printf("Generating %llu MiB in %s ...\n", static_cast<unsigned long long>(size_mb),
              source.c_str());
  make_source(source, size_mb << 20);

  cw::PlanRequest request;
  request.root = source.string();
  for (const auto& entry : fs::directory_iterator(source)) request.folders.push_back(entry.path());
  request.title = "Selected Folders";
  cw::DiscSet set;
  std::string message;
  if (!cw::plan_discs(request, set, message)) {
    std::fprintf(stderr, "bench_disc_write: %s\n", message.c_str());
    return 1;
  }
  const std::string xorriso = "xorriso -as mkisofs -J -R -quiet -o '" + theirs.string() + "' '" +
                              source.string() + "' >/dev/null 2>&1";
  auto run_ours = [&] {
    fs::remove_all(ours_dir);
    fs::create_directories(ours_dir);
    return cw::burn_discs_to_images(set, ours_dir.string()).ok;
  };
  auto run_theirs = [&] {
    fs::remove(theirs);
    return std::system(xorriso.c_str()) == 0;
  };

  std::vector<double> ratios;
  for (int i = 0; i < runs; ++i) {
    double a, b;
    if (i % 2) {
      b = timed(run_theirs);
      a = timed(run_ours);
    } else {
      a = timed(run_ours);
      b = timed(run_theirs);
    }
    std::printf("run %d: ours %.2f s, xorriso %.2f s, ratio %.2f\n", i + 1, a, b, a / b);
    ratios.push_back(a / b);
  }
  fs::remove_all(work);
  const double r = median(ratios);
  std::printf("disc image write: ours/xorriso = %.2f (target <= %.1f) %s\n", r, kTarget,
              r <= kTarget ? "PASS" : "FAIL");
  return r <= kTarget ? 0 : 1;
}
