// Test helpers (see test_env.h).
#include "tests/common/test_env.h"

#include <sys/mount.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace cw::test {

namespace fs = std::filesystem;

namespace {
std::atomic<int> temp_counter{0};

// The first of the answers a test queued, taken off the queue; `none` when it is empty.
template <typename T>
T take_answer(std::vector<T>& answers, T none) {
  if (answers.empty()) return none;
  T first = answers.front();
  answers.erase(answers.begin());
  return first;
}
}  // namespace

TempDir::TempDir() {
  path_ = test_root() / ("tmp" + std::to_string(temp_counter.fetch_add(1)));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only folders behind; make them writable before removing.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

SmallFileSystem::SmallFileSystem(const std::string& at, const char* size) : mount_point(at) {
  fs::create_directories(at);
  const std::string options = std::string("size=") + size;
  mounted = ::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallFileSystem::~SmallFileSystem() {
  if (mounted) ::umount2(mount_point.c_str(), MNT_DETACH);
}

void SmallFileSystem::fill() const {
  std::ofstream out(mount_point + "/filler", std::ios::binary);
  const std::string block(4096, 'f');
  while (out.write(block.data(), static_cast<std::streamsize>(block.size())) && out.flush()) {
  }
}

void CaptureUserInterface::alert(const std::string& text) {
  std::lock_guard<std::mutex> hold(mutex_);
  alerts.push_back(text);
}

void CaptureUserInterface::pane_append(const std::string& text) {
  std::lock_guard<std::mutex> hold(mutex_);
  pane += text;
}

void CaptureUserInterface::set_status(const std::string& text) {
  std::lock_guard<std::mutex> hold(mutex_);
  status = text;
}

bool CaptureUserInterface::ask_yes_no(const std::string& question) {
  questions.push_back(question);
  return take_answer(yes_no_answers, false);
}

std::optional<std::string> CaptureUserInterface::ask_text(const std::string& prompt,
                                                          const std::string&) {
  questions.push_back(prompt);
  return take_answer(text_answers, std::optional<std::string>());
}

std::optional<std::string> CaptureUserInterface::choose_folder(const std::string& title,
                                                               const std::string& start) {
  return ask_text(title, start);
}

std::optional<int> CaptureUserInterface::choose_from_list(const std::string& title,
                                                          const std::string&,
                                                          const std::vector<std::string>&) {
  questions.push_back(title);
  return take_answer(list_answers, std::optional<int>());
}

void CaptureUserInterface::clear() {
  alerts.clear();
  pane.clear();
  questions.clear();
  yes_no_answers.clear();
  text_answers.clear();
  list_answers.clear();
  status.clear();
}

CaptureUserInterface& captured_ui() {
  static CaptureUserInterface ui;
  return ui;
}

std::optional<fs::path> corpus_dir() {
  fs::path p = CW_CORPUS_DIR;
  std::error_code ec;
  if (fs::is_directory(p, ec)) return fs::canonical(p, ec);
  return std::nullopt;
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::size_t images_below(const fs::path& dir) {
  std::size_t n = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); it != fs::recursive_directory_iterator();
       ++it)
    if (it->is_regular_file() && it->path().extension() != ".xmp" &&
        it->path().extension() != ".xxh128")
      ++n;
  return n;
}

std::vector<std::string> paths_below(const fs::path& root) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (!e.is_directory()) out.push_back(fs::relative(e.path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

void write_file(const fs::path& p, const std::string& bytes) {
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

int run_command(const std::string& command, std::string* output) {
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::string out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  int status = pclose(pipe);
  if (output) *output = out;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool have_program(const std::string& name) {
  return run_command("command -v '" + name + "' >/dev/null 2>&1") == 0;
}

std::string built_program(const std::string& relative) {
  return (fs::path(CW_BINARY_DIR) / relative).string();
}

ScopedZone::ScopedZone(const char* zone) {
  if (const char* tz = std::getenv("TZ")) saved_ = tz;
  ::setenv("TZ", zone, 1);
  ::tzset();
}

ScopedZone::~ScopedZone() {
  if (saved_) ::setenv("TZ", saved_->c_str(), 1);
  else ::unsetenv("TZ");
  ::tzset();
}

}  // namespace cw::test
