// Cards and settings that would make a run write or read outside its trees, hang or lose files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "foundation/log.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/sample_card.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::contains;
using test::Harness;
using test::paths_below;
using test::read_file;
using test::write_file;

TEST(HostileCard, CameraValuesAndArchiveLinksNeverLeadOutOfTheArchive) {
  Harness h;
  fixtures::JpegSpec spec;
  spec.exif.emplace();
  spec.exif->model = "../../../../PWNED";
  write_file(h.card + "/IMG_0001.JPG", fixtures::make_jpeg(spec));
  h.set(kParamFolderFormat, "{@exif.model}/..");
  h.set(kParamNameFormat, "{@exif.model}");
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_EQ(paths_below(h.archive), std::vector<std::string>{"PWNED/..-..-..-..-PWNED.JPG"});

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
  EXPECT_EQ(paths_below(h.archive), (std::vector<std::string>{"IMG_0001.JPG", "IMG_0005.JPG"}));
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

TEST(HostileCard, HiddenFilesAreTakenAndOtherSystemsFilesAreCountedApart) {
  Harness h;
  const std::string folder = h.card + "/DCIM/100";
  write_file(folder + "/IMG_0001.JPG", "one");
  write_file(folder + "/.IMG_0002.JPG", "a hidden file");
  write_file(h.card + "/DCIM/.hidden/IMG_0003.JPG", "in a hidden folder");
  write_file(folder + "/._IMG_0001.JPG",
             std::string("\x00\x05\x16\x07\x00\x02\x00\x00", 8) + "Mac OS X        ");
  write_file(folder + "/._IMG_0004.JPG", "a name like a companion's, without its header");
  // Another system's housekeeping: its trash holds only what a person deleted there.
  write_file(folder + "/.DS_Store", "view settings");
  write_file(h.card + "/.Spotlight-V100/Store-V2/index.JPG", "an index");
  write_file(h.card + "/.Trashes/501/IMG_0009.JPG", "deleted on that system");
  ASSERT_TRUE(h.run_as_slot()) << h.ctx->error;
  EXPECT_EQ(paths_below(h.archive), (std::vector<std::string>{".IMG_0002.JPG", "._IMG_0004.JPG",
                                                              "IMG_0001.JPG", "IMG_0003.JPG"}));
  EXPECT_EQ(read_file(h.archive + "/IMG_0003.JPG"), "in a hidden folder");
  EXPECT_TRUE(contains(h.ctx->report,
                       "\nResource-fork files of another system (._NAME) left on the card: 1\n"));
  EXPECT_TRUE(contains(h.ctx->report, "(.DS_Store, .Spotlight-V100, .Trashes...) left on the "
                                      "card: 3\n"))
      << h.ctx->report;
  EXPECT_EQ(h.ctx->verdict.line,
            "Card safe to format: all 4 images have verified copies in 1 tree");
  // Inserted again, the card's hidden images are found in the archive like any other.
  ASSERT_TRUE(h.run_as_slot()) << h.ctx->error;
  EXPECT_EQ(paths_below(h.archive).size(), 4u);
  EXPECT_EQ(h.ctx->verdict.line,
            "Card safe to format: all 4 images have verified copies in 1 tree");
}

TEST(HostileCard, ABackslashIsPartOfANameOnTheCard) {
  Harness h;
  write_file(h.card + "/a/b.JPG", "in folder a");
  write_file(h.card + "/a\\b.JPG", "a backslash in the name");
  write_file(h.card + "/c\\d.JPG", "no folder c");
  write_file(h.card + "/x\\y/e.JPG", "in folder x\\y");
  h.set(kParamFolderFormat, "{@sourcepath}");
  ASSERT_TRUE(h.run_as_slot()) << h.ctx->error << h.ctx->report;
  EXPECT_EQ(paths_below(h.archive),
            (std::vector<std::string>{"a-b.JPG", "a/b.JPG", "c-d.JPG", "x-y/e.JPG"}));
  EXPECT_EQ(read_file(h.archive + "/a-b.JPG"), "a backslash in the name");
  EXPECT_EQ(read_file(h.archive + "/a/b.JPG"), "in folder a");
  EXPECT_EQ(h.ctx->verdict.line,
            "Card safe to format: all 4 images have verified copies in 1 tree");
  // Picked by its name, the file is the same one.
  h.params.file_array = std::vector<std::string>{h.card + "/c\\d.JPG"};
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_EQ(h.listed(), std::vector<std::string>{"c\\d.JPG"});
  EXPECT_EQ(h.ctx->counts.duplicates, 1);
}

// Folders one inside the other below `root`, the innermost holding one file, made and removed
// through descriptors: the whole path is longer than the system takes.
class DeepFile {
 public:
  DeepFile(const std::string& root, int levels, const std::string& file) {
    fsys::create_directories(root);
    fds_.push_back(::open(root.c_str(), O_RDONLY | O_DIRECTORY));
    path_ = root;
    for (int i = 0; i < levels; ++i) {
      EXPECT_EQ(::mkdirat(fds_.back(), folder_.c_str(), 0755), 0);
      fds_.push_back(::openat(fds_.back(), folder_.c_str(), O_RDONLY | O_DIRECTORY));
      path_ += "/" + folder_;
    }
    const int fd = ::openat(fds_.back(), file.c_str(), O_WRONLY | O_CREAT, 0644);
    EXPECT_EQ(::write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
    ::close(fd);
    file_ = file;
    path_ += "/" + file;
  }
  ~DeepFile() {
    ::unlinkat(fds_.back(), file_.c_str(), 0);
    for (std::size_t i = fds_.size() - 1; i > 0; --i) {
      ::close(fds_[i]);
      ::unlinkat(fds_[i - 1], folder_.c_str(), AT_REMOVEDIR);
    }
    ::close(fds_.front());
  }
  const std::string& path() const { return path_; }

 private:
  const std::string folder_ = std::string(250, 'f');  // each folder's name
  std::vector<int> fds_;
  std::string path_, file_;
};

TEST(HostileCard, LongNamesAndPathsNeverStopTheCard) {
  Harness h;
  const std::string long_name = std::string(240, 'n') + ".JPG";
  write_file(h.card + "/" + long_name, "a name the card's file system allows");
  write_file(h.card + "/IMG_0001.JPG", "one");
  const DeepFile deep(h.card + "/deep", 20, "IMG_0002.JPG");
  ASSERT_GT(deep.path().size(), static_cast<std::size_t>(PATH_MAX));
  const int traces = errstack_depth();
  ASSERT_TRUE(h.run_as_slot()) << h.ctx->error << h.ctx->report;
  // Archive names are cut to 200 bytes.
  EXPECT_EQ(paths_below(h.archive),
            (std::vector<std::string>{"IMG_0001.JPG", std::string(200, 'n') + ".JPG"}));
  EXPECT_TRUE(
      contains(h.ctx->report, "Skipped file whose path is too long: \"" + deep.path() + "\"\n"));
  EXPECT_EQ(h.ctx->verdict.line, "Card not yet safe to format: 1 file skipped by the scan (" +
                                     deep.path().substr(h.card.size() + 1) + ")");
  // Nothing of the program's inner workings reaches the report or the trace.
  EXPECT_FALSE(contains(h.ctx->report, "[fcn???]"));
  EXPECT_EQ(errstack_depth(), traces);

  // A card path that fits, with a copy's path that does not: that image alone fails, named.
  Harness k;
  std::string folders;
  for (int i = 0; i < 20; ++i) folders += "/" + std::string(199, 'd');
  write_file(k.card + folders + "/IMG_0001.JPG", "deep");
  write_file(k.card + "/IMG_0002.JPG", "flat");
  std::string tree = k.archive;  // over 2,000 bytes, as {@sourcepath} gives at most 1,999
  for (int i = 0; i < 11; ++i) tree += "/" + std::string(199, 'a');
  k.set(kParamPrimaryFolder, tree);
  k.set(kParamFolderFormat, "{@sourcepath}");
  EXPECT_FALSE(k.run_as_slot());
  EXPECT_EQ(k.ctx->error, "One or more image files could not be copied.");
  EXPECT_EQ(read_file(tree + "/IMG_0002.JPG"), "flat");
  const std::size_t line = k.ctx->report.find("ERROR: path too long: \"" + tree + "/d");
  ASSERT_NE(line, std::string::npos) << k.ctx->report;
  EXPECT_EQ(k.ctx->report.substr(k.ctx->report.find('\n', line) - 14, 15), "/IMG_0001.JPG\"\n");
  EXPECT_EQ(k.ctx->verdict.line,
            "Card not yet safe to format: 1 of 2 images lack a verified copy in every tree "
            "(IMG_0001.JPG); the ingestion ended with an error");
}

TEST(HostileCard, TheSameCardTwiceAtOnceIntoOneTreeGivesOneCopyPerImage) {
  Harness a, b;
  ASSERT_EQ(fixtures::write_sample_card(a.card, fixtures::jpeg_card(30)).size(), 30u);
  for (Harness* h : {&a, &b}) h->set(kParamFolderFormat, "{@filename,1,7}");
  b.set(kParamPrimaryFolder, a.archive);
  b.card = a.card;
  std::thread other([&] { EXPECT_TRUE(b.run()) << b.ctx->error << b.ctx->report; });
  EXPECT_TRUE(a.run()) << a.ctx->error;
  other.join();
  EXPECT_EQ(paths_below(a.archive).size(), 30u);
  EXPECT_EQ(a.ctx->counts.duplicates + b.ctx->counts.duplicates, 30);
}

}  // namespace
}  // namespace cw
