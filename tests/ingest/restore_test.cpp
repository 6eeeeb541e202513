// Copies and sidecars a run finds missing or damaged, over whole runs with a database.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>

#include "foundation/sysio.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::contains;
using test::image_contents;
using test::read_file;
using test::write_file;

// The primary copy that gets one byte changed on the disk when it is next opened for reading
// (after it was written, before its read-back), once armed; on the verifier's thread.
const char* const kFlipped = "/archive/IMG_0002.JPG";
std::atomic<bool> g_flip_armed{false};

int open_flipping(const char* path, int flags, mode_t mode) {
  if ((flags & O_ACCMODE) == O_RDONLY && std::string(path).ends_with(kFlipped) &&
      g_flip_armed.exchange(false))
    test::flip_a_bit(path, true);
  return system_sysio().open(path, flags, mode);
}

// Refuses to move anything to a ".damaged" name.
int rename_never_aside(const char* from, const char* to) {
  if (std::string(to).ends_with(".damaged")) {
    errno = EACCES;
    return -1;
  }
  return system_sysio().rename(from, to);
}

// A copy moved to a ".damaged" name that no flush of its file system followed yet.
std::atomic<bool> g_aside_unflushed{false};

int rename_noting_aside(const char* from, const char* to) {
  const int rc = system_sysio().rename(from, to);
  if (rc == 0 && std::string(to).ends_with(".damaged")) g_aside_unflushed = true;
  return rc;
}

int syncfs_noting(int fd) {
  g_aside_unflushed = false;
  return system_sysio().syncfs(fd);
}

struct Restores : ::testing::Test {
  test::Harness h;
  std::string db_path;
  int databases = 0;

  void SetUp() override { fresh_database(); }
  // A database that knows nothing: the ledger of a run killed before it stored anything.
  void fresh_database() {
    db_path = h.dir / ("ledger-" + std::to_string(++databases) + ".sqlite3");
  }
  bool run() { return h.run_slot_with(db_path); }
  std::string report() const { return h.ctx->error + "\n" + h.ctx->report; }
};

// The primary copy deleted and the backup copy damaged in place: the missing copy is made from
// the card's bytes, never from the damaged one, which stays; no run stops on a name it took.
TEST_F(Restores, DamagedBackupIsNeverTheSourceOfAMissingCopy) {
  h.with_backup();
  h.write_small_card(3);
  const auto images = image_contents(h.card);
  ASSERT_TRUE(run()) << report();
  ASSERT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
  const std::string primary = h.archive + "/IMG_0002.JPG", copy = h.backup + "/IMG_0002.JPG";
  const std::string card_bytes = read_file(primary);
  fsys::remove(primary);
  test::flip_a_bit(copy, true);
  const std::string damaged = read_file(copy);
  ASSERT_NE(damaged, card_bytes);

  // The damaged backup copy is found at once: the card's file goes beside it, and the primary
  // copy is made from that new copy, under its name.
  run();
  EXPECT_TRUE(read_file(h.archive + "/IMG_0002_00001.JPG") == card_bytes) << report();
  EXPECT_FALSE(contains(report(), "will not overwrite")) << report();
  EXPECT_TRUE(contains(h.ctx->report, copy + "\"")) << h.ctx->report;

  ASSERT_TRUE(run()) << report();
  EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
  EXPECT_EQ(image_contents(h.archive), images);
  auto in_backup = image_contents(h.backup);
  EXPECT_EQ(in_backup.size(), images.size() + 1);
  for (const auto& [bytes, n] : images) EXPECT_EQ(in_backup[bytes], 1);
  EXPECT_TRUE(read_file(copy) == damaged);
}

// A copy that fails its read-back (also the one for its XMP merge) moves aside to a free
// ".damaged" name, or, when it cannot move, the next run copies beside it; nothing damaged is
// ever replaced, and the next run calls the card safe.
TEST_F(Restores, CopyFailingItsReadBackNeverBlocksItsName) {
  write_file(h.dir / "title.xmp", fixtures::sample_xmp_packet("a title"));
  h.write_small_card(3);
  const std::string final_name = h.archive + "/IMG_0002.JPG";
  const std::string card_bytes = read_file(h.card + "/DCIM/100CWTST/IMG_0002.JPG");
  enum class Case { kPlain, kMerged, kNotMovable };
  for (const Case c : {Case::kPlain, Case::kMerged, Case::kNotMovable}) {
    SCOPED_TRACE("case " + std::to_string(static_cast<int>(c)));
    fsys::remove_all(h.archive);
    fresh_database();
    h.set(kParamWantXMPtoJPG, c == Case::kMerged ? "1" : "0");
    h.set(kParamSidecarPath, c == Case::kMerged ? h.dir / "title.xmp" : "");
    if (c == Case::kNotMovable) h.with_backup();
    write_file(final_name + ".damaged", "an earlier damaged copy");
    {
      Sysio table = system_sysio();
      table.open = open_flipping;
      table.rename = c == Case::kNotMovable ? rename_never_aside : rename_noting_aside;
      table.syncfs = syncfs_noting;
      ScopedSysio faults(table);
      g_flip_armed = true;
      EXPECT_FALSE(run());
    }
    ASSERT_FALSE(g_flip_armed) << "the copy was never read back";
    EXPECT_FALSE(g_aside_unflushed) << "the new name may not be on the disk";
    EXPECT_TRUE(contains(h.ctx->report, "ERROR: copy differs from its source (checksum): \"" +
                                            final_name + "\"\n"))
        << report();
    if (c == Case::kPlain) {
      EXPECT_EQ(h.ctx->counts.files_verified, 2);
    }
    EXPECT_FALSE(h.ctx->verdict.safe);
    EXPECT_TRUE(contains(h.ctx->verdict.line, "1 of 3 images lack a verified copy in every tree "
                                              "(IMG_0002.JPG)"))
        << h.ctx->verdict.line;
    const std::string aside =
        c == Case::kNotMovable ? final_name : h.archive + "/IMG_0002_00001.JPG.damaged";
    const std::string line =
        c == Case::kNotMovable
            ? "WARNING: The damaged copy could not be moved aside (Permission denied); it "
              "blocks its name: \"" + aside + "\"\n"
            : "The damaged copy is now: \"" + aside + "\"\n";
    EXPECT_TRUE(contains(h.ctx->report, line)) << report();
    const std::string damaged = read_file(aside);
    EXPECT_EQ(damaged.size(), card_bytes.size());
    EXPECT_NE(damaged, card_bytes);

    ASSERT_TRUE(run()) << report();
    EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
    const std::string copy = c == Case::kNotMovable ? h.archive + "/IMG_0002_00001.JPG"
                                                    : final_name;
    if (c != Case::kMerged) {
      EXPECT_TRUE(read_file(copy) == card_bytes);
    }
    if (c == Case::kNotMovable) {
      EXPECT_TRUE(contains(h.ctx->report, "WARNING: \"" + final_name +
                                              "\" holds other content and stays; the copy is \"" +
                                              copy + "\"\n"))
          << h.ctx->report;
    }
    EXPECT_TRUE(read_file(aside) == damaged);
    EXPECT_EQ(read_file(final_name + ".damaged"), "an earlier damaged copy");
  }
}

// An image left without its sidecar by a kill (before or during the second copy, its record
// kept or lost) gets it beside every copy from the next run, which only then calls it safe.
TEST_F(Restores, ImageArchivedWithoutItsSidecarIsCompleted) {
  write_file(h.dir / "title.xmp", fixtures::sample_xmp_packet("a title"));
  h.set(kParamSidecarPath, h.dir / "title.xmp");
  h.write_small_card(3);
  enum class Killed { kNoBackup, kBeforeSecondCopy, kInSecondCopy };
  for (const Killed killed : {Killed::kNoBackup, Killed::kBeforeSecondCopy, Killed::kInSecondCopy})
    for (const bool recorded : {true, false}) {
      SCOPED_TRACE("case " + std::to_string(static_cast<int>(killed)) + ", ledger " +
                   (recorded ? "kept" : "lost"));
      for (const std::string& tree : {h.archive, h.backup}) fsys::remove_all(tree);
      fresh_database();
      if (killed != Killed::kNoBackup) h.with_backup();
      ASSERT_TRUE(run()) << report();
      std::vector<std::string> trees{h.archive};
      if (killed != Killed::kNoBackup) trees.push_back(h.backup);
      const std::string sidecar = read_file(trees.back() + "/IMG_0002.xmp");
      ASSERT_TRUE(contains(sidecar, "a title"));
      // As the kill leaves it: the image in place without its sidecar, nothing further.
      if (killed == Killed::kInSecondCopy) {
        fsys::remove(h.archive + "/IMG_0002.xmp");
      } else {
        for (const std::string& tree : trees) fsys::remove(tree + "/IMG_0002.xmp");
        if (killed == Killed::kBeforeSecondCopy) fsys::remove(h.archive + "/IMG_0002.JPG");
      }
      if (!recorded) fresh_database();

      ASSERT_TRUE(run()) << report();
      for (const std::string& tree : trees)
        EXPECT_EQ(read_file(tree + "/IMG_0002.xmp"), sidecar) << tree;
      EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
    }
  // A sidecar that cannot be made (a folder holds its name) keeps the card from being safe,
  // and the report names it.
  const std::string held = h.archive + "/IMG_0002.xmp";
  fsys::remove(held);
  fsys::create_directory(held);
  EXPECT_FALSE(run());
  EXPECT_TRUE(contains(h.ctx->verdict.line, "(IMG_0002.JPG)")) << h.ctx->verdict.line;
  EXPECT_TRUE(contains(h.ctx->report, "ERROR: no sidecar in the primary tree: \"" + held + "\""))
      << h.ctx->report;
}

}  // namespace
}  // namespace cw
