// Test helpers: temporary folders, a private HOME for every test process, a front end that
// captures alerts and the text pane, and access to the shared camera-file corpus.
#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/user_interface.h"

namespace cw::test {

// A fresh folder under the process's private temporary root, removed when destroyed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  std::string operator/(const std::string& rel) const { return (path_ / rel).string(); }

 private:
  std::filesystem::path path_;
};

// A small file system of its own (tmpfs) mounted at `at` for the object's life; needs the right
// to mount (tests skip when `mounted` is false).
struct SmallFileSystem {
  SmallFileSystem(const std::string& at, const char* size);
  ~SmallFileSystem();
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  // Writes a file into it until no byte more fits.
  void fill() const;
  std::string mount_point;
  bool mounted = false;
};

// Captures everything the engine shows (from any thread); answers questions from queues the
// test fills.
class CaptureUserInterface : public UserInterface {
 public:
  void alert(const std::string& text) override;
  void pane_append(const std::string& text) override;
  void set_status(const std::string& text) override;
  bool ask_yes_no(const std::string& question) override;
  std::optional<std::string> ask_text(const std::string& prompt,
                                      const std::string& initial) override;
  std::optional<std::string> choose_folder(const std::string& title,
                                           const std::string& start) override;
  std::optional<int> choose_from_list(const std::string& title, const std::string& text,
                                      const std::vector<std::string>& choices) override;
  void clear();

  std::vector<std::string> alerts;
  std::string pane;
  std::string status;
  std::vector<std::string> questions;      // every question asked, in order
  std::vector<bool> yes_no_answers;        // consumed front first; No when empty
  std::vector<std::optional<std::string>> text_answers;  // consumed front first
  std::vector<std::optional<int>> list_answers;          // consumed front first

 private:
  std::mutex mutex_;
};

// The capturing front end installed for the whole test process.
CaptureUserInterface& captured_ui();

// The process's private temporary root (HOME and XDG folders live below it).
const std::filesystem::path& test_root();

// The shared corpus folder, or nothing when it is absent (a fresh clone has none).
std::optional<std::filesystem::path> corpus_dir();
// Skips the current test when the corpus is absent; use as CW_REQUIRE_CORPUS(dir).
#define CW_REQUIRE_CORPUS(var)                                        \
  auto var##_opt = ::cw::test::corpus_dir();                           \
  if (!var##_opt) GTEST_SKIP() << "shared corpus not present";         \
  const std::filesystem::path var = *var##_opt

// Whole-file helpers.
std::string read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, const std::string& bytes);
// How many image files are below `dir` (sidecars and manifests not counted; 0 when absent).
std::size_t images_below(const std::filesystem::path& dir);
// Everything below `root` but folders (temporary files and links included), by path relative
// to it, in name order.
std::vector<std::string> paths_below(const std::filesystem::path& root);

// Runs a shell command, returns its exit status and (optionally) its standard output.
int run_command(const std::string& command, std::string* output = nullptr);
// True when a program is found on PATH.
bool have_program(const std::string& name);

// Path of a program built in this build tree (e.g. "app/cardwright").
std::string built_program(const std::string& relative);

// The computer's zone (TZ) for the life of the object; the one before is restored after.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone);
  ~ScopedZone();
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

}  // namespace cw::test
