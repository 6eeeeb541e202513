// A one-slot ingestion run for tests, with a card and trees below a temporary folder.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "database/database.h"
#include "ingest/engine_context.h"
#include "ingest/ingest.h"
#include "settings/param_list.h"
#include "tests/fixtures/sample_card.h"
#include "tests/common/test_env.h"

namespace cw::test {

struct Harness {
  TempDir dir;
  std::string card = dir / "card";
  std::string archive = dir / "archive";
  std::string backup = dir / "backup";
  std::string post = dir / "post";
  ParamList params = default_param_list();
  SingleSlotControl control;
  SlotControl* reports_to = &control;  // what runs report to and take stop requests from
  CameraSource* cameras = nullptr;     // what the runs read "ptp/" cards on (not owned)
  std::unique_ptr<EngineContext> ctx;

  Harness() {
    params.values[kParamCardFolder] = card;
    params.values[kParamPrimaryFolder] = archive;
    // Most cards here hold placeholder bytes, not images: tests that decode turn this on.
    set(kParamWantJpegVerify, std::string("0"));
    // Names kept and no folders, unless a test asks for its own formats.
    params.values[kParamNameFormat] = "{@filename}";
    params.values[kParamFolderFormat].clear();
    std::filesystem::create_directories(card);
  }
  void set(int pos, const std::string& value) { params.values[static_cast<std::size_t>(pos)] = value; }
  // First copies into the backup tree; with `and_post`, third copies into the post tree.
  void with_backup(bool and_post = false) {
    set(kParamWantBackup, "1");
    set(kParamBackupFolder, backup);
    if (!and_post) return;
    set(kParamWantBackupPost, "1");
    set(kParamBackupFolderPost, post);
  }
  // Runs copycard on `root` (the card by default) with a fresh context.
  bool run(int count = kParamCount, const std::string& root = "") {
    new_context(reports_to);
    return copycard(params, count, root.empty() ? card : root, *ctx);
  }
  // Runs `root` (the card by default) as one slot of a batch: its report ends with the verdict.
  bool run_as_slot(const std::string& root = "") {
    new_context(reports_to);
    return run_slot(params, root.empty() ? card : root, *ctx);
  }
  // Runs the card as one slot of a batch with its ledger in the database at `db_path` (opened
  // for this run only) and, when given, GPS tagging; false when the database cannot be opened.
  bool run_slot_with(const std::string& db_path, const GpsRunSettings* gps = nullptr) {
    Database db;
    if (!db.open(db_path)) return false;
    SingleSlotControl slot;
    new_context(&slot);
    ctx->database = &db;
    ctx->gps = gps;
    const bool ok = run_slot(params, card, *ctx);
    ctx->database = nullptr;
    return ok;
  }
  // A fresh context for a run reporting to `slot`, with the harness's cameras.
  void new_context(SlotControl* slot) {
    ctx = std::make_unique<EngineContext>(EngineJob{slot, 0, "Test card"});
    ctx->cameras = cameras;
  }
  // A card of `count` tiny JPEGs with EXIF capture times (no raws): quick to copy and hash.
  void write_small_card(int count) {
    ASSERT_EQ(fixtures::write_sample_card(card, fixtures::jpeg_card(count)).size(),
              static_cast<std::size_t>(count));
  }
  // The camera clock of the card's file `path` corrected by `seconds`, as a multi-camera sync
  // records it.
  void correct_clock(const std::string& path, std::int64_t seconds) {
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
    params.capture_shifts.set(st.st_dev, st.st_ino, CaptureShift{seconds, 0});
  }
  // Source paths of the image list, relative to the card.
  std::vector<std::string> listed() const {
    std::vector<std::string> out;
    for (const ImageRecord& r : ctx->images) out.push_back(r.source_path().substr(card.size() + 1));
    return out;
  }
};

inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every file below `root` by its path there, with its bytes.
inline std::map<std::string, std::string> files_below(const std::string& root) {
  std::map<std::string, std::string> out;
  if (!std::filesystem::exists(root)) return out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file())
      out[e.path().lexically_relative(root).string()] = read_file(e.path());
  return out;
}

// The paths of a tree's files, sidecars and manifests left out, in name order.
inline std::vector<std::string> image_files(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& [path, bytes] : files_below(root))
    if (!path.ends_with(".xmp") && !path.starts_with("Manifests/"))
      out.push_back(root + "/" + path);
  return out;
}

// The images of a tree by content, with how many files hold each: sidecars, manifests and the
// hidden temporary files of copies left out.
inline std::map<std::string, int> image_contents(const std::string& root) {
  std::map<std::string, int> out;
  for (const auto& [path, bytes] : files_below(root)) {
    const std::filesystem::path p(path);
    if (p.extension() == ".xmp" || p.filename().string()[0] == '.' ||
        path.starts_with("Manifests/"))
      continue;
    ++out[bytes];
  }
  return out;
}

// Flips one bit of a file in place, its size kept; with `keep_time`, its times too, as damage
// on the disk would leave them.
inline void flip_a_bit(const std::string& path, bool keep_time = false) {
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path;
  char byte = 0;
  EXPECT_EQ(::pread(fd, &byte, 1, 100), 1);
  byte ^= 0x01;
  EXPECT_EQ(::pwrite(fd, &byte, 1, 100), 1);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (keep_time) {
    EXPECT_EQ(::futimens(fd, times), 0);
  }
  ::close(fd);
}

// The path an open descriptor of this process names, or "" when it cannot be read.
inline std::string fd_path(int fd) {
  char path[4096];
  const ssize_t n =
      ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

// The processes whose parent is this one.
inline std::set<pid_t> own_children() {
  std::set<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // "pid (command) state ppid ...": the command may hold spaces and parentheses.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) == 2 &&
        parent == ::getpid())
      children.insert(static_cast<pid_t>(std::stol(name)));
  }
  return children;
}

// Runs `body` in a child process; true when the child was killed outright. What the child
// started comes to this process once the child is gone: it must end by itself (a stay-open
// ExifTool is ended by its watcher), or it is ended here and the test fails.
inline bool killed_in_child(const std::function<void()>& body) {
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  const std::set<pid_t> before = own_children();
  const pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  std::set<pid_t> left;
  for (int round = 0; round < 300; ++round) {
    left.clear();
    for (const pid_t p : own_children())
      if (!before.count(p) && ::waitpid(p, nullptr, WNOHANG) == 0) left.insert(p);
    if (left.empty()) break;
    ::usleep(10000);
  }
  for (const pid_t p : left) {
    ADD_FAILURE() << "the killed run left process " << p << " running";
    ::kill(-p, SIGKILL);  // its group, when it leads one
    ::kill(p, SIGKILL);
    ::waitpid(p, nullptr, 0);
  }
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace cw::test
