// main() of every test executable: gives the process a private temporary HOME and XDG
// folders and a private log file, so no test ever touches the real user's files, and installs
// the capturing front end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "foundation/log.h"
#include "tests/common/test_env.h"

namespace cw::test {

namespace fs = std::filesystem;

namespace {
fs::path make_root() {
  std::string tmpl = (fs::temp_directory_path() / "cwtest.XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  if (!made) std::abort();
  return fs::path(made);
}
}  // namespace

const fs::path& test_root() {
  static const fs::path root = make_root();
  return root;
}

}  // namespace cw::test

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path& root = cw::test::test_root();
  for (const char* sub : {"home", "home/.local/share", "home/.config", "home/.cache"})
    fs::create_directories(root / sub);
  setenv("HOME", (root / "home").c_str(), 1);
  setenv("XDG_DATA_HOME", (root / "home/.local/share").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (root / "home/.config").c_str(), 1);
  setenv("XDG_CACHE_HOME", (root / "home/.cache").c_str(), 1);
  // No test looks for cameras on the machine's USB bus: the camera library loads its port
  // drivers from an empty folder (tests that serve folders as cameras name their own).
  fs::create_directories(root / "no-port-drivers");
  setenv("IOLIBS", (root / "no-port-drivers").c_str(), 1);
  cw::log_set_path((root / "cw_log.txt").string());
  cw::set_log_front_end(&cw::test::captured_ui());

  testing::InitGoogleTest(&argc, argv);
  int rc = RUN_ALL_TESTS();

  cw::set_log_front_end(nullptr);
  if (!std::getenv("CW_KEEP_TEST_ROOT")) {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  return rc;
}
