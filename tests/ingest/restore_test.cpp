// Restores and sidecars over whole runs with a database: a missing copy is never made from a
// damaged one, a copy that fails its read-back leaves its name free for the next run, and an
// image archived without its sidecar (a run killed between the two) gets it from the next run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <memory>

#include "database/database.h"
#include "foundation/sysio.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/sample_card.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::contains;
using test::image_contents;
using test::read_file;
using test::write_file;

// One byte of the file changed in place, its size and modification time kept.
void damage(const std::string& path) {
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0) << path;
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path;
  char byte = 0;
  EXPECT_EQ(::pread(fd, &byte, 1, 200), 1);
  byte ^= 0x10;
  EXPECT_EQ(::pwrite(fd, &byte, 1, 200), 1);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  EXPECT_EQ(::futimens(fd, times), 0);
  ::close(fd);
}

// The primary copy that gets one byte changed on the disk when it is next opened for reading
// (after it was written, before its read-back), once armed; on the verifier's thread.
const char* const kFlipped = "/archive/IMG_0002.JPG";
std::atomic<bool> g_flip_armed{false};

int open_flipping(const char* path, int flags, mode_t mode) {
  if ((flags & O_ACCMODE) == O_RDONLY && std::string(path).ends_with(kFlipped) &&
      g_flip_armed.exchange(false))
    damage(path);
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

struct Restores : ::testing::Test {
  test::Harness h;
  Database db;
  std::unique_ptr<SingleSlotControl> control;
  std::string backup = h.dir / "backup";
  int databases = 0;

  void SetUp() override { fresh_database(); }
  // A database that knows nothing: the ledger of a run killed before it stored anything.
  void fresh_database() {
    db.close();
    ASSERT_TRUE(db.open(h.dir / ("ledger-" + std::to_string(++databases) + ".sqlite3")));
  }
  void with_backup() {
    h.set(kParamWantBackup, "1");
    h.set(kParamBackupFolder, backup);
  }
  bool run() {
    control = std::make_unique<SingleSlotControl>();
    h.ctx = std::make_unique<EngineContext>(EngineJob{control.get(), 0, "Test card"});
    h.ctx->database = &db;
    return run_slot(h.params, h.card, *h.ctx);
  }
  void write_card(int count) {
    fixtures::CardSpec spec;
    spec.count = count;
    spec.raw_every = 0;
    spec.jpeg_width = spec.jpeg_height = 16;
    ASSERT_EQ(fixtures::write_sample_card(h.card, spec).size(), static_cast<std::size_t>(count));
  }
  std::string report() const { return h.ctx->error + "\n" + h.ctx->report; }
};

// The primary copy is deleted and the backup copy damaged in place: the next run makes the
// primary copy from the card, never from the damaged backup, names that backup copy and
// leaves it as it is; the run after completes the backup tree beside it and calls the card
// safe. No run stops on a name the damage took.
TEST_F(Restores, DamagedBackupIsNeverTheSourceOfAMissingCopy) {
  with_backup();
  write_card(3);
  const auto images = image_contents(h.card);
  ASSERT_TRUE(run()) << report();
  ASSERT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
  const std::string primary = h.archive + "/IMG_0002.JPG", copy = backup + "/IMG_0002.JPG";
  const std::string card_bytes = read_file(primary);
  fsys::remove(primary);
  damage(copy);
  const std::string damaged = read_file(copy);
  ASSERT_NE(damaged, card_bytes);

  run();
  EXPECT_TRUE(read_file(primary) == card_bytes) << report();
  EXPECT_FALSE(contains(report(), "will not overwrite")) << report();
  EXPECT_TRUE(contains(h.ctx->report, copy + "\"")) << h.ctx->report;
  EXPECT_TRUE(read_file(copy) == damaged);

  ASSERT_TRUE(run()) << report();
  EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
  EXPECT_EQ(image_contents(h.archive), images);
  auto in_backup = image_contents(backup);
  EXPECT_EQ(in_backup.size(), images.size() + 1);
  for (const auto& [bytes, n] : images) EXPECT_EQ(in_backup[bytes], 1);
  EXPECT_TRUE(read_file(copy) == damaged);
}

// A copy that does not read back as it was written leaves its final name at once: it becomes
// NAME.damaged, or a suffixed variant when that name is taken (never replaced), and the
// report names it; the run goes on, also when the copy was read back at once to have its XMP
// merged. The next run then copies the image under its name and calls the card safe.
TEST_F(Restores, CopyFailingItsReadBackIsMovedAside) {
  write_file(h.dir / "title.xmp", fixtures::sample_xmp_packet("a title"));
  write_card(3);
  const auto images = image_contents(h.card);
  const std::string final_name = h.archive + "/IMG_0002.JPG";
  for (const bool merged : {false, true}) {
    SCOPED_TRACE(merged ? "XMP merged" : "plain copies");
    fsys::remove_all(h.archive);
    fresh_database();
    if (merged) {
      h.set(kParamWantXMPtoJPG, "1");
      h.set(kParamSidecarPath, h.dir / "title.xmp");
    }
    write_file(final_name + ".damaged", "an earlier damaged copy");
    {
      Sysio table = system_sysio();
      table.open = open_flipping;
      ScopedSysio faults(table);
      g_flip_armed = true;
      EXPECT_FALSE(run());
    }
    ASSERT_FALSE(g_flip_armed) << "the copy was never read back";
    EXPECT_TRUE(h.ctx->error.empty() || contains(h.ctx->error, "could not be copied"))
        << h.ctx->error;
    const std::string aside = h.archive + "/IMG_0002_00001.JPG.damaged";
    EXPECT_FALSE(fsys::exists(final_name));
    EXPECT_TRUE(contains(h.ctx->report, "The damaged copy is now: \"" + aside + "\"\n"))
        << h.ctx->report;
    EXPECT_EQ(read_file(final_name + ".damaged"), "an earlier damaged copy");
    const std::string damaged = read_file(aside);
    EXPECT_EQ(damaged.size(), read_file(h.card + "/DCIM/100CWTST/IMG_0002.JPG").size());
    EXPECT_FALSE(h.ctx->verdict.safe);

    ASSERT_TRUE(run()) << report();
    EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
    EXPECT_TRUE(fsys::exists(final_name));
    auto archived = image_contents(h.archive);
    if (!merged) {
      for (const auto& [bytes, n] : images) EXPECT_EQ(archived[bytes], 1);
    }
    EXPECT_TRUE(read_file(aside) == damaged);
  }
}

// A damaged copy that cannot be moved aside keeps its name, and the report says so. The next
// run never replaces it: it copies the image beside it under the next free name, names both,
// and calls the card safe.
TEST_F(Restores, DamagedCopyThatCannotBeMovedAsideIsCopiedBeside) {
  with_backup();
  write_card(3);
  const std::string final_name = h.archive + "/IMG_0002.JPG";
  {
    Sysio table = system_sysio();
    table.open = open_flipping;
    table.rename = rename_never_aside;
    ScopedSysio faults(table);
    g_flip_armed = true;
    EXPECT_FALSE(run());
  }
  ASSERT_FALSE(g_flip_armed) << "the copy was never read back";
  EXPECT_TRUE(contains(h.ctx->report, "WARNING: The damaged copy could not be moved aside "
                                      "(Permission denied); it blocks its name: \"" +
                                          final_name + "\"\n"))
      << h.ctx->report;
  const std::string damaged = read_file(final_name);

  ASSERT_TRUE(run()) << report();
  const std::string beside = h.archive + "/IMG_0002_00001.JPG";
  EXPECT_TRUE(contains(h.ctx->report, "WARNING: \"" + final_name +
                                          "\" holds other content and stays; the copy is \"" +
                                          beside + "\"\n"))
      << h.ctx->report;
  EXPECT_TRUE(read_file(beside) == read_file(backup + "/IMG_0002.JPG"));
  EXPECT_TRUE(read_file(final_name) == damaged);
  EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
}

// A run killed after an image took its final name and before its sidecar did leaves the image
// without its sidecar: in the first tree before the second copy, or in the primary tree
// during it; and a ledger that knows the copy or (killed before it stored anything) does not.
// The next run makes the sidecar beside every copy, as the first run would have, and only
// then calls the card safe.
TEST_F(Restores, ImageArchivedWithoutItsSidecarIsCompleted) {
  write_file(h.dir / "title.xmp", fixtures::sample_xmp_packet("a title"));
  h.set(kParamSidecarPath, h.dir / "title.xmp");
  write_card(3);
  enum class Killed { kNoBackup, kBeforeSecondCopy, kInSecondCopy };
  for (const Killed killed : {Killed::kNoBackup, Killed::kBeforeSecondCopy, Killed::kInSecondCopy})
    for (const bool recorded : {true, false}) {
      SCOPED_TRACE("case " + std::to_string(static_cast<int>(killed)) + ", ledger " +
                   (recorded ? "kept" : "lost"));
      for (const std::string& tree : {h.archive, backup}) fsys::remove_all(tree);
      fresh_database();
      if (killed != Killed::kNoBackup) with_backup();
      ASSERT_TRUE(run()) << report();
      std::vector<std::string> trees{h.archive};
      if (killed != Killed::kNoBackup) trees.push_back(backup);
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
}

// A sidecar that cannot be made (its name is held by a folder) keeps the card from being
// called safe, and the report names where it is missing.
TEST_F(Restores, ImageWithoutItsSidecarIsNotSafe) {
  write_file(h.dir / "title.xmp", fixtures::sample_xmp_packet("a title"));
  h.set(kParamSidecarPath, h.dir / "title.xmp");
  write_card(2);
  ASSERT_TRUE(run()) << report();
  ASSERT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
  const std::string sidecar = h.archive + "/IMG_0002.xmp";
  fsys::remove(sidecar);
  fsys::create_directory(sidecar);

  run();
  EXPECT_FALSE(h.ctx->verdict.safe);
  EXPECT_TRUE(contains(h.ctx->verdict.line, "(IMG_0002.JPG)")) << h.ctx->verdict.line;
  EXPECT_TRUE(contains(h.ctx->report, "\"" + sidecar + "\"")) << h.ctx->report;
}

}  // namespace
}  // namespace cw
