// bench_durability [FOLDER]: how an ingestion should make its copies durable before the record
// says SUCCESS. Both ways copy each file under a temporary name and rename it into place; they
// differ in how the bytes reach the disk:
//   per-file  fsync of every file before its rename, then fsync of every target folder;
//   syncfs    nothing per file, one syncfs of the destination file system at the end.
// Two card shapes are timed, each copy from a synced, empty destination to the end of its last
// sync: many small files (300 JPEG-sized files of 40-120 KB, each with a 4 KB sidecar, in 3
// folders) and camera-sized files (24 files of 8-30 MB). The two ways alternate over several
// runs and the median of each is printed with the ratio per-file / syncfs (above 1: syncfs is
// faster). FOLDER (a temporary folder by default) must lie on the file system to measure.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;

struct Shape {
  const char* label;
  int files;
  std::size_t min_size, max_size;
  bool sidecars;
  int folders;
};

const Shape kShapes[] = {
    {"300 small JPEGs with sidecars", 300, 40000, 120000, true, 3},
    {"24 camera-sized files", 24, 8 << 20, 30 << 20, false, 2},
};

void die(const char* what, const std::string& path) {
  std::perror((std::string(what) + " " + path).c_str());
  std::exit(1);
}

void write_all(int fd, const char* p, std::size_t n, const std::string& path) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w <= 0) die("write", path);
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

// The card: source files with random contents.
std::vector<std::string> make_card(const std::string& dir, const Shape& shape) {
  std::mt19937_64 rng(42);
  std::vector<std::string> files;
  std::vector<char> bytes(shape.max_size);
  for (char& c : bytes) c = static_cast<char>(rng());
  fs::create_directories(dir);
  for (int i = 0; i < shape.files; ++i) {
    std::size_t size = shape.min_size + rng() % (shape.max_size - shape.min_size);
    std::string path = dir + "/IMG_" + std::to_string(1000 + i) + ".JPG";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) die("create", path);
    write_all(fd, bytes.data() + i % 997, size - i % 997, path);
    ::close(fd);
    files.push_back(path);
  }
  return files;
}

// One file under a temporary name, renamed into place; fsynced first when asked.
void place(const std::string& folder, const std::string& name, const char* data, std::size_t n,
           int in, bool per_file) {
  const std::string temp = folder + "/.part-" + name, final_path = folder + "/" + name;
  int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (out < 0) die("create", temp);
  if (in >= 0) {
    static std::vector<char> buffer(1 << 20);
    for (;;) {
      ssize_t r = ::read(in, buffer.data(), buffer.size());
      if (r < 0) die("read", name);
      if (r == 0) break;
      write_all(out, buffer.data(), static_cast<std::size_t>(r), temp);
    }
  } else {
    write_all(out, data, n, temp);
  }
  if (per_file && ::fsync(out) != 0) die("fsync", temp);
  ::close(out);
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, final_path.c_str(), RENAME_NOREPLACE) != 0)
    die("rename", final_path);
}

void sync_folder(const std::string& folder, bool whole_fs) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) die("open", folder);
  if ((whole_fs ? ::syncfs(fd) : ::fsync(fd)) != 0) die("sync", folder);
  ::close(fd);
}

double copy_card(const std::vector<std::string>& files, const std::string& dest,
                 const Shape& shape, bool per_file) {
  fs::remove_all(dest);
  fs::create_directories(dest);
  ::sync();
  const std::string sidecar(4096, 'x');
  const auto start = Clock::now();
  std::set<std::string> folders;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string folder = dest + "/2024/05/day" + std::to_string(i % shape.folders);
    if (folders.insert(folder).second) fs::create_directories(folder);
    const std::string name = fs::path(files[i]).filename().string();
    int in = ::open(files[i].c_str(), O_RDONLY);
    if (in < 0) die("open", files[i]);
    place(folder, name, nullptr, 0, in, per_file);
    ::close(in);
    if (shape.sidecars)
      place(folder, name.substr(0, name.size() - 3) + "xmp", sidecar.data(), sidecar.size(), -1,
            per_file);
  }
  if (per_file) {
    // The new folders' own entries too: every folder up to the destination.
    std::set<std::string> all;
    for (const std::string& f : folders)
      for (fs::path p = f; p.string().size() >= dest.size(); p = p.parent_path()) all.insert(p);
    for (const std::string& f : all) sync_folder(f, false);
  } else {
    sync_folder(dest, true);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::string base = argc > 1 ? argv[1] : fs::temp_directory_path().string();
  char pattern[] = "cw-durability.XXXXXX";
  std::string work = base + "/" + pattern;
  if (!::mkdtemp(work.data())) die("mkdtemp", work);
  for (const Shape& shape : kShapes) {
    const std::vector<std::string> files = make_card(work + "/card", shape);
    std::vector<double> per_file, whole;
    copy_card(files, work + "/dest", shape, false);  // the card into the page cache
    for (int run = 0; run < kRuns; ++run) {
      // Alternate which way goes first, so neither always meets a busier disk.
      bool first_per_file = run % 2 == 0;
      for (bool mode : {first_per_file, !first_per_file})
        (mode ? per_file : whole).push_back(copy_card(files, work + "/dest", shape, mode));
    }
    const double p = median(per_file), s = median(whole);
    std::printf("%-32s per-file fsync %7.3f s   syncfs %7.3f s   ratio per-file/syncfs %.2f\n",
                shape.label, p, s, p / s);
    fs::remove_all(work + "/card");
  }
  fs::remove_all(work);
  return 0;
}
