// File-system helpers; failures a real file system cannot give on demand are injected.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "foundation/fs.h"
#include "foundation/log.h"
#include "foundation/path_guard.h"
#include "foundation/sysio.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

using ::testing::HasSubstr;
namespace fsys = std::filesystem;
using test::captured_ui;
using test::read_file;
using test::TempDir;
using test::write_file;

struct FakeRun : RunContext {
  bool fail(std::string_view message) override {
    failures.emplace_back(message);
    return false;
  }
  void report_append(std::string_view text) override { report += text; }
  bool stop_requested() override { return false; }
  std::vector<std::string> failures;
  std::string report;
};

// State for the injected calls below (one test at a time uses it).
std::vector<std::string> g_calls;
int g_failures_left = 0;

TEST(MakeFoldersTest, CreatesMissingLevelsConcurrentlyAndReportsFailure) {
  TempDir dir;
  FakeRun run;
  EXPECT_TRUE(make_folders(run, dir / "a/b\\c/"));
  EXPECT_TRUE(fsys::is_directory(dir / "a/b/c"));
  EXPECT_TRUE(make_folders(run, dir / "a/b/c"));  // all there already
  EXPECT_TRUE(run.failures.empty());

  // Runs racing to create the same chain all succeed.
  std::vector<std::thread> threads;
  std::vector<int> ok(8, 0);
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] {
      FakeRun own;
      ok[i] = make_folders(own, dir / "2026/12/05/card" + std::to_string(i % 2));
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(ok, std::vector<int>(8, 1));
  EXPECT_TRUE(fsys::is_directory(dir / "2026/12/05/card1"));

  write_file(dir / "file", "x");
  EXPECT_FALSE(make_folders(run, dir / "file/sub/deeper"));
  ASSERT_EQ(run.failures, std::vector<std::string>{"can't create folder"});
  EXPECT_EQ(run.report, "\nError code = 20; path = \"" + (dir / "file/sub") + "\"\n");
  EXPECT_FALSE(fsys::exists(dir / "file/sub"));

  // On a network path the share exists and its server part is no folder: only a and b are made.
  Sysio fake = sysio();
  fake.stat = [](const char* path, struct stat* st) {
    const std::string p = path;
    if (p != "/" && p != "//server/share") return errno = ENOENT, -1;
    *st = {};
    st->st_mode = S_IFDIR | 0755;
    return 0;
  };
  fake.mkdir = [](const char* path, mode_t) { return g_calls.emplace_back(path), 0; };
  ScopedSysio scoped(fake);
  g_calls.clear();
  EXPECT_TRUE(make_folders(run, "\\\\server\\share\\a\\b"));
  EXPECT_EQ(g_calls, (std::vector<std::string>{"//server/share/a", "//server/share/a/b"}));
}

TEST(RmdirAllTest, RemovesFilesThenFolderButStopsAtASubfolder) {
  TempDir dir;
  FakeRun run;
  write_file(dir / "scratch/one", "1");
  write_file(dir / "scratch/two", "2");
  EXPECT_TRUE(rmdir_all(run, dir / "scratch"));
  EXPECT_FALSE(fsys::exists(dir / "scratch"));

  fsys::create_directories(dir / "held/sub");
  EXPECT_FALSE(rmdir_all(run, dir / "held"));
  EXPECT_EQ(run.failures, std::vector<std::string>{"rmdir_all: can't unlink"});
  EXPECT_EQ(run.report, dir / "held" + "/sub");
  EXPECT_TRUE(fsys::is_directory(dir / "held/sub"));
}

TEST(RenamePathTest, RetriesWhileAccessIsRefusedAndNeverReplaces) {
  TempDir dir;
  set_rename_retry_interval(std::chrono::milliseconds(1));
  write_file(dir / "from.jpg", "image");

  Sysio fake = sysio();
  fake.rename = [](const char* from, const char* to) {
    g_calls.emplace_back(from);
    if (g_failures_left-- > 0) return errno = EACCES, -1;
    return system_sysio().rename(from, to);
  };
  {
    ScopedSysio scoped(fake);
    g_calls.clear();
    g_failures_left = 3;  // held open by another program for a while
    EXPECT_EQ(rename_path(dir / "from.jpg", dir.str() + "\\to.jpg"), 0);
    EXPECT_EQ(g_calls.size(), 4u);
    EXPECT_EQ(read_file(dir / "to.jpg"), "image");

    captured_ui().clear();
    g_calls.clear();
    g_failures_left = 1000;  // never released
    EXPECT_EQ(rename_path(dir / "to.jpg", dir / "other.jpg"), -1);
    EXPECT_EQ(g_calls.size(), 59u);
    EXPECT_THAT(captured_ui().pane, HasSubstr("ERROR: rename failed with error 13: "));
    EXPECT_THAT(read_file(log_path()),
                HasSubstr("Renaming " + dir / "to.jpg to " + dir / "other.jpg"));
  }
  // An existing target is an error at once, and both files stay as they were.
  write_file(dir / "taken.jpg", "other image");
  EXPECT_EQ(rename_path(dir / "to.jpg", dir / "taken.jpg"), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(read_file(dir / "taken.jpg"), "other image");
  EXPECT_EQ(read_file(dir / "to.jpg"), "image");
  set_rename_retry_interval(std::chrono::milliseconds(1000));
}

// A card-like tree: files, nested folders, two kinds of trash and a linked folder.
void make_tree(const TempDir& dir) {
  write_file(dir / "card/a.jpg", "a");
  write_file(dir / "card/DCIM/b.cr2", "b");
  write_file(dir / "card/DCIM/100/c.jpg", "c");
  write_file(dir / "card/$Recycle.Bin/old.jpg", "x");
  write_file(dir / "card/.Trash-1000/files/gone.jpg", "x");
  fsys::create_directory_symlink(dir / "card/DCIM", dir / "card/loop");
  fsys::create_symlink(dir / "card/gone", dir / "card/dangling.jpg");
}

std::map<std::string, std::pair<int, int>> walk_all(const std::string& root, int level,
                                                     int* result = nullptr) {
  std::map<std::string, std::pair<int, int>> seen;  // relative path → (type, level)
  int rc = walk_tree(
      root,
      [&](const std::string& path, const struct stat&, int type, std::size_t offset, int lv) {
        EXPECT_EQ(path.substr(offset), fsys::path(path).filename().string());
        seen[path.substr(root.size())] = {type, lv};
        return 0;
      },
      level);
  if (result) *result = rc;
  return seen;
}

TEST(WalkTreeTest, VisitsListsAndCollectsEverythingOnceSkippingBinsAndLinks) {
  TempDir dir;
  make_tree(dir);
  int rc = -2;
  auto seen = walk_all(dir / "card", 0, &rc);
  EXPECT_EQ(rc, 0);
  std::map<std::string, std::pair<int, int>> expected = {
      {"", {kWalkFolder, 0}},           {"/a.jpg", {kWalkFile, 1}},
      {"/DCIM", {kWalkFolder, 1}},      {"/DCIM/b.cr2", {kWalkFile, 2}},
      {"/DCIM/100", {kWalkFolder, 2}},  {"/DCIM/100/c.jpg", {kWalkFile, 3}}};
  EXPECT_EQ(seen, expected);

  // Level -1: the folder itself and its files, no folders.
  seen = walk_all(dir / "card", -1);
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen.count("/a.jpg"));

  // A visitor's non-zero answer ends the walk with it.
  auto stop_at_c = [](const std::string& p, const struct stat&, int, std::size_t, int) {
    return p.ends_with("c.jpg") ? 7 : 0;
  };
  EXPECT_EQ(walk_tree(dir / "card", stop_at_c, 0), 7);

  // A listing holds the direct entries only.
  auto list = dir_list_open(dir / "card");
  ASSERT_TRUE(list);
  std::set<std::string> names(list->entries.begin(), list->entries.end());
  EXPECT_EQ(names, (std::set<std::string>{dir / "card/a.jpg", dir / "card/DCIM"}));
  EXPECT_FALSE(dir_list_open(dir / "none"));
  EXPECT_EQ(errno, ENOENT);

  // Folder collection is recursive and leaves out both kinds of trash.
  write_file(dir / "card/.Trashes/501/x.jpg", "x");
  write_file(dir / "card/DCIM/.Trashes/y", "y");
  std::vector<std::string> folders;
  EXPECT_TRUE(collect_folders(folders, dir / "card/"));
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{dir / "card/DCIM", dir / "card/DCIM/100"}));
  EXPECT_FALSE(collect_folders(folders, dir / "missing"));
  EXPECT_THAT(read_file(log_path()),
              HasSubstr("Can't access folder " + dir / "missing - error other than permissions."));
}

TEST(WalkTreeTest, UnreadableFolderEndsItsBranchUnreadableFileOnlyItself) {
  // Run as root every folder is readable, so the refusal is injected.
  TempDir dir;
  make_tree(dir);
  static int injected_errno;
  Sysio fake = sysio();
  fake.opendir = [](const char* path) -> DIR* {
    if (!std::string(path).ends_with("/DCIM")) return system_sysio().opendir(path);
    errno = injected_errno;
    return nullptr;
  };
  ScopedSysio scoped(fake);

  injected_errno = EACCES;
  int rc = -2;
  auto seen = walk_all(dir / "card", 0, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(seen.count("/DCIM"));
  EXPECT_FALSE(seen.count("/DCIM/b.cr2"));
  EXPECT_TRUE(seen.count("/a.jpg"));

  injected_errno = EIO;
  walk_all(dir / "card", 0, &rc);
  EXPECT_EQ(rc, -1);
  EXPECT_THAT(read_file(log_path()),
              HasSubstr("ERROR: [" + dir / "card/DCIM] opendir failed with error 5"));
  // The listing still holds what was found.
  auto list = dir_list_open(dir / "card");
  ASSERT_TRUE(list);
  EXPECT_EQ(list->entries.size(), 2u);

  // A file that cannot be examined is reported and left out; the entries the folder lists
  // after it are still walked. The failing file is the first one the folder lists.
  for (const char* name : {"f1.jpg", "f2.jpg", "f3.jpg"})
    write_file(dir / ("card/" + std::string(name)), "f");
  static std::string unreadable;
  unreadable.clear();
  for (const auto& e : fsys::directory_iterator(dir / "card"))
    if (e.is_regular_file() && unreadable.empty()) unreadable = e.path().string();
  fake = system_sysio();
  fake.stat = [](const char* path, struct stat* st) {
    if (path == unreadable) {
      errno = EIO;
      return -1;
    }
    return system_sysio().stat(path, st);
  };
  ScopedSysio failing_stat(fake);
  captured_ui().clear();
  seen = walk_all(dir / "card", 0, &rc);
  EXPECT_EQ(rc, -1);
  EXPECT_THAT(captured_ui().pane, HasSubstr("\nERROR accessing " + unreadable + " ("));
  list = dir_list_open(dir / "card");
  ASSERT_TRUE(list);
  std::set<std::string> names(list->entries.begin(), list->entries.end());
  std::set<std::string> expected;
  for (const char* name : {"a.jpg", "f1.jpg", "f2.jpg", "f3.jpg", "DCIM"})
    if (dir / ("card/" + std::string(name)) != unreadable)
      expected.insert(dir / ("card/" + std::string(name)));
  EXPECT_EQ(names, expected);
  EXPECT_EQ(seen.size(), expected.size() + 4);  // the card, DCIM's two entries and its file
}

TEST(ToUtf8Test, PassesUtf8AndConvertsCp1252) {
  std::string out, message;
  EXPECT_TRUE(to_utf8("Caf\xc3\xa9 \xe2\x82\xac 5", out, message));
  EXPECT_EQ(out, "Caf\xc3\xa9 \xe2\x82\xac 5");
  EXPECT_TRUE(to_utf8("\x93quoted\x94 caf\xe9 \x80", out, message));
  EXPECT_EQ(out, "\xe2\x80\x9cquoted\xe2\x80\x9d caf\xc3\xa9 \xe2\x82\xac");

  // The five bytes CP1252 leaves undefined stand for U+FFFD: one bad byte of a camera's text
  // must not stop a run.
  EXPECT_TRUE(to_utf8("a\x81\x8d\x8f\x90\x9dz", out, message));
  std::string five;
  for (int i = 0; i < 5; ++i) five += "\xef\xbf\xbd";
  EXPECT_EQ(out, "a" + five + "z");
  to_utf8_release();
  EXPECT_TRUE(to_utf8("\xe9", out, message));  // opens again after a release
  EXPECT_EQ(out, "\xc3\xa9");
}

TEST(PathGuardTest, NamesAndFoldersAreCleanedAndRealPathsCompared) {
  EXPECT_EQ(safe_relative_path("../../a/./b//..\\c/"), "a/b/c");
  EXPECT_EQ(safe_relative_path("x\x01y:z*?\"<>|/ end. ./"), "xy-z------/ end");
  EXPECT_EQ(safe_path_component("caf\xe9/"), "caf\xc3\xa9-");  // CP1252
  EXPECT_EQ(safe_path_component("a\xc2\x85"), "a");             // a C1 control in UTF-8
  EXPECT_EQ(safe_path_component(std::string(199, 'a') + "\xc3\xa9"), std::string(199, 'a'));

  TempDir dir;
  fsys::create_directories(dir / "real");
  fsys::create_directory_symlink(dir / "real", dir / "link");
  fsys::create_symlink(dir / "nowhere", dir / "dangling");
  const std::string real = *real_path_of(dir.str());
  EXPECT_EQ(real_path_of(dir / "link/new/../x"), real + "/real/x");
  EXPECT_EQ(real_path_of(dir / "dangling/x"), std::nullopt);  // creation would follow it
  EXPECT_TRUE(path_is_inside(real, real + "/real/x"));
  EXPECT_FALSE(path_is_inside(real + "/re", real + "/real"));
  EXPECT_TRUE(path_is_inside("/", "/x"));
}

}  // namespace
}  // namespace cw
