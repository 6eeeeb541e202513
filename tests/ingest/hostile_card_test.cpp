// Cards and settings that try to make a run write outside its archive, read outside its card,
// hang, or pile up copies: camera values with "..", links in the archive, links and special
// files on the card, the same card ingested twice at once, roots that are one tree or lie on
// the card.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <thread>

#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/sample_card.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::contains;
using test::Harness;
using test::read_file;
using test::write_file;

// The archive's files (relative paths), temporary ones included.
std::vector<std::string> files_below(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : fsys::recursive_directory_iterator(root))
    if (!e.is_directory()) out.push_back(fsys::relative(e.path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(HostileCard, CameraValuesAndArchiveLinksNeverLeadOutOfTheArchive) {
  Harness h;
  fixtures::JpegSpec spec;
  spec.exif.emplace();
  spec.exif->model = "../../../../PWNED";
  write_file(h.card + "/IMG_0001.JPG", fixtures::make_jpeg(spec));
  h.set(kParamFolderFormat, "{@exif.model}/..");
  h.set(kParamNameFormat, "{@exif.model}");
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_EQ(files_below(h.archive), std::vector<std::string>{"PWNED/..-..-..-..-PWNED.JPG"});

  // A link inside the archive leads elsewhere: that image fails, named, and the run goes on.
  write_file(h.card + "/IMG_0002.JPG", "second");
  fsys::create_directories(h.dir / "elsewhere");
  fsys::create_directory_symlink(h.dir / "elsewhere", h.archive + "/out");
  h.set(kParamFolderFormat, "{@filename,1,7}");  // IMG_000 for both...
  fsys::rename(h.archive + "/out", h.archive + "/IMG_000");  // ...which is the link
  h.set(kParamNameFormat, "{@filename}");
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "One or more image files could not be copied.");
  EXPECT_TRUE(contains(h.ctx->report, "ERROR: path outside root: \"" + h.archive +
                                          "/IMG_000/IMG_0001.JPG\"\n"));
  EXPECT_TRUE(fsys::is_empty(h.dir / "elsewhere"));
  EXPECT_EQ(h.ctx->counts.images_failed, 2);
}

TEST(HostileCard, LinksAndSpecialFilesAreSkippedWithOneLineEach) {
  Harness h;
  const std::string dcim = h.card + "/DCIM";
  write_file(dcim + "/IMG_0001.JPG", "one");
  write_file(h.dir / "secret.JPG", "not on the card");
  write_file(dcim + "/.stash/IMG_0005.JPG", "five");  // hidden from the scan, linked below
  fsys::create_symlink(h.dir / "secret.JPG", dcim + "/IMG_0002.JPG");
  fsys::create_symlink("IMG_0001.JPG", dcim + "/IMG_0003.JPG");
  fsys::create_directory_symlink(dcim, dcim + "/LOOP");
  fsys::create_symlink(".stash/IMG_0005.JPG", dcim + "/IMG_0005.JPG");
  fsys::create_symlink("nowhere.JPG", dcim + "/IMG_0006.JPG");
  ASSERT_EQ(mkfifo((dcim + "/IMG_0007.JPG").c_str(), 0644), 0);
  const bool device = mknod((dcim + "/IMG_0008.JPG").c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0;
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_EQ(files_below(h.archive), (std::vector<std::string>{"IMG_0001.JPG", "IMG_0005.JPG"}));
  EXPECT_EQ(read_file(h.archive + "/IMG_0005.JPG"), "five");
  for (const char* line :
       {"symbolic link that leads out of the card: \"%/IMG_0002.JPG\"",
        "symbolic link to a file taken already: \"%/IMG_0003.JPG\"",
        "symbolic link to a folder: \"%/LOOP\"",
        "symbolic link that leads nowhere: \"%/IMG_0006.JPG\"",
        "special file (not a regular file): \"%/IMG_0007.JPG\""}) {
    std::string expected = std::string("Skipped ") + line + "\n";
    expected.replace(expected.find('%'), 1, dcim);
    EXPECT_TRUE(contains(h.ctx->report, expected)) << expected << h.ctx->report;
  }
  if (device) {
    EXPECT_TRUE(contains(h.ctx->report, "file (not a regular file): \"" + dcim + "/IMG_0008.JPG"));
  }
}

TEST(HostileCard, TheSameCardTwiceAtOnceIntoOneTreeGivesOneCopyPerImage) {
  Harness a, b;
  fixtures::CardSpec spec;
  spec.count = 30;
  spec.raw_every = 0;
  ASSERT_EQ(fixtures::write_sample_card(a.card, spec).size(), 30u);
  for (Harness* h : {&a, &b}) h->set(kParamFolderFormat, "{@filename,1,7}");
  b.set(kParamPrimaryFolder, a.archive);
  b.card = a.card;
  std::thread other([&] { EXPECT_TRUE(b.run()) << b.ctx->error << b.ctx->report; });
  EXPECT_TRUE(a.run()) << a.ctx->error;
  other.join();
  EXPECT_EQ(files_below(a.archive).size(), 30u);
  EXPECT_EQ(a.ctx->counts.duplicates + b.ctx->counts.duplicates, 30);
}

TEST(HostileCard, RootsAreComparedAsTheSystemResolvesThem) {
  Harness h;
  h.set(kParamWantBackup, "1");
  h.set(kParamBackupFolder, h.archive + "/./");
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "Backup and primary folders must be different");
  h.set(kParamWantBackup, "0");
  h.set(kParamPrimaryFolder, h.card + "/../card/Archive");
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error,
            "Destination folder is inside the card: \"" + h.card + "/../card/Archive\"");
  EXPECT_FALSE(fsys::exists(h.card + "/Archive"));
}

}  // namespace
}  // namespace cw
