// Discs written through libburn's stdio: pseudo-drive into image files, read back by xorriso,
// and planned discs against the images really written, on random folder trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <random>
#include <sstream>

#include "disc/burn.h"
#include "disc/image_estimate.h"
#include "disc/libburn_recorder.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

// Regular files of an image's Rock Ridge tree (or, with `joliet`, of its Joliet tree).
std::vector<std::string> image_files(const std::string& image, bool joliet) {
  std::string out;
  std::string cmd = "xorriso -abort_on FATAL -report_about WARNING";
  if (joliet) cmd += " -read_fs norock";
  EXPECT_EQ(test::run_command(cmd + " -indev '" + image + "' -find / -type f 2>/dev/null", &out),
            0);
  std::vector<std::string> files;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);)
    if (line.size() > 3 && line.front() == '\'') files.push_back(line.substr(1, line.size() - 2));
  std::sort(files.begin(), files.end());
  return files;
}

TEST(ImageTest, EachDiscBecomesAnImageOfExactlyItsFiles) {
  if (!test::have_program("xorriso")) GTEST_SKIP() << "xorriso not installed";
  TempDir root, images, out;
  const std::string long_name =
      "A long file name with spaces, longer than sixty-four characters.jpg";
  test::write_file(root / "Day 1/" + long_name, std::string(300'000, 'a'));
  test::write_file(root / "Day 1/b.cr2", std::string(200'000, 'b'));
  test::write_file(root / "Day 2/c.jpg", std::string(400'000, 'c'));
  test::write_file(root / "Day 2/x/d.jpg", std::string(1000, 'd'));
  test::write_file(root / "Day 3/e.jpg", std::string(450'000, 'e'));

  DiscSet set;
  std::string message;
  ASSERT_TRUE(
      plan_discs({root.str(), {"Day 1", "Day 2", "Day 3"}, "Selected Folders", -1, true, 1'000'000},
                 set, message))
      << message;
  ASSERT_EQ(set.discs.size(), 3u);
  BurnOutcome outcome = burn_discs_to_images(set, images.str());
  ASSERT_TRUE(outcome.ok) << outcome.message;
  EXPECT_EQ(outcome.discs_burned, 3);

  const std::vector<std::vector<std::string>> expected = {{"/Day 1/" + long_name, "/Day 1/b.cr2"},
                                                          {"/Day 2/c.jpg", "/Day 2/x/d.jpg"},
                                                          {"/Day 3/e.jpg"}};
  for (std::size_t d = 0; d < 3; ++d) {
    const std::string image = images / "Disc_00" + std::to_string(d + 1) + ".iso";
    std::vector<std::string> with_proof = expected[d];
    with_proof.insert(with_proof.end(), {"/MANIFEST.xxh128", "/PROVENANCE.txt"});
    ASSERT_EQ(image_files(image, false), with_proof);
    std::string pvd;
    test::run_command("xorriso -indev '" + image + "' -pvd_info 2>/dev/null", &pvd);
    EXPECT_NE(pvd.find("Volume Id    : DISC_00" + std::to_string(d + 1)), std::string::npos) << pvd;
    const std::string dest = out / std::to_string(d);
    ASSERT_EQ(test::run_command("xorriso -osirrox on -indev '" + image + "' -extract / '" + dest +
                                "' >/dev/null 2>&1"),
              0);
    for (const std::string& f : expected[d]) {
      EXPECT_EQ(test::run_command("cmp '" + root.str() + f + "' '" + dest + f + "'"), 0) << f;
    }
  }
  EXPECT_EQ(image_files(images / "Disc_001.iso", true)[0], "/Day 1/" + long_name);

  // A second run finds the images in place and leaves them as they are.
  auto before = std::filesystem::last_write_time(images / "Disc_001.iso");
  outcome = burn_discs_to_images(set, images.str());
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.message.find("already exists"), std::string::npos) << outcome.message;
  EXPECT_EQ(std::filesystem::last_write_time(images / "Disc_001.iso"), before);
  EXPECT_FALSE(std::filesystem::exists(images / "Disc_001.iso.part"));

  // Cancelled while the disc's file system is put together (a small image can be written
  // before the drive's first report, so that moment would race): no image is left behind.
  TempDir cancelled;
  ImageFolderSystem folder(cancelled.str());
  DiscWriter* running = nullptr;
  DiscWriter writer(set, folder,
                    {[&](const WriterView& v) {
                       if (v.status.rfind("Adding ", 0) == 0) running->burn();
                     },
                     {}});
  running = &writer;
  ASSERT_TRUE(writer.open());
  writer.burn();
  EXPECT_FALSE(writer.wait());
  EXPECT_EQ(writer.view().status, "User Canceled!");
  EXPECT_TRUE(std::filesystem::is_empty(cancelled.path()));
}

// Path lengths the planner takes (it refuses sources of kMaxPathChars or more).
constexpr std::size_t kPathBudget = kMaxPathChars - 1;

class TreeMaker {
 public:
  explicit TreeMaker(unsigned seed) : random_(seed) {}

  // A name of 1 to `longest` bytes: ASCII with characters neither ISO 9660 nor Joliet take,
  // two-byte and three-byte UTF-8, and now and then a name only the case tells apart.
  std::string name(std::size_t longest) {
    static const char* const kPieces[] = {"a", "B", "z", "0", "7", " ", "-", "_", ".", "*",
                                          ":", ";", "?", "é", "Ü", "日", "本", "jpg", ".JPG"};
    const std::size_t want = 1 + pick(longest);
    std::string out;
    while (true) {
      std::string piece = kPieces[pick(std::size(kPieces))];
      if (out.size() + piece.size() > want) break;
      out += piece;
    }
    if (out.empty() || out == "." || out == "..") out = "n";
    if (!taken_.empty() && pick(8) == 0) {
      std::string twin = taken_[pick(taken_.size())];  // the same name in other case
      for (char& c : twin) {
        const auto u = static_cast<unsigned char>(c);
        c = static_cast<char>(std::isupper(u) ? std::tolower(u) : std::toupper(u));
      }
      if (twin.size() <= want) out = twin;
    }
    taken_.push_back(out);
    return out;
  }

  // Sizes around sector boundaries, empty files and small ones.
  std::uint64_t size() {
    static const std::uint64_t kSizes[] = {0, 1, 2047, 2048, 2049, 4095, 4096, 4097, 6144};
    if (pick(3) == 0) return pick(20'000);
    return kSizes[pick(std::size(kSizes))];
  }

  // A folder of files and subfolders, `depth` levels at most below it.
  void folder(const std::string& path, int depth) {
    fs::create_directories(path);
    const std::size_t room = kPathBudget - path.size() - 1;
    const std::size_t files = pick(4) == 0 ? 40 + pick(80) : pick(10);
    for (std::size_t i = 0; i < files; ++i) {
      // Mostly short names, some as long as the path allows (names that overflow a record).
      const std::size_t longest = pick(5) == 0 ? room : std::min<std::size_t>(room, 24);
      const std::string file = path + "/" + name(longest);
      if (fs::exists(file)) continue;
      test::write_file(file, std::string(size(), 'x'));
    }
    const std::size_t folders = depth > 0 ? pick(3) : 0;  // one on average: deep, not wide
    for (std::size_t i = 0; i < folders && room > 12; ++i) {
      std::string sub = path + "/" + name(std::min<std::size_t>(room - 10, 12));
      if (!fs::exists(sub)) folder(sub, depth - 1);
    }
  }

  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }

 private:
  std::mt19937 random_;
  std::vector<std::string> taken_;
};

TEST(ImageFitTest, EveryPlannedImageFitsItsDisc) {
  // Bounded: a fixed number of seeds, stopped early should the machine be slow.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::uint64_t worst_slack = 0;
  int discs = 0;
  for (unsigned seed = 1; seed <= 8 && std::chrono::steady_clock::now() < deadline; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir root, images;
    TreeMaker maker(seed);
    std::vector<std::string> top;
    for (std::size_t i = 0, n = 1 + maker.pick(4); i < n; ++i) {
      top.push_back("top" + std::to_string(i));
      maker.folder(root / top.back(), 12);
    }
    // Small discs: a few hundred KiB of files each beside the image's own overhead.
    const std::uint64_t capacity = 700'000 + 100'000 * maker.pick(6);
    DiscSet set;
    std::string message;
    ASSERT_TRUE(
        plan_discs({root.str(), top, "Selected Folders", -1, true, capacity}, set, message))
        << message;
    BurnOutcome outcome = burn_discs_to_images(set, images.str());
    ASSERT_TRUE(outcome.ok) << outcome.message;
    for (std::size_t d = 0; d < set.discs.size(); ++d) {
      const std::uint64_t written = fs::file_size(images / disc_label(set, d) + ".iso");
      // An optical disc also holds the padding written after the image.
      EXPECT_LE(written + kReadAheadPadBytes, set.discs[d].image_size) << "disc " << d;
      EXPECT_LE(set.discs[d].image_size, capacity);
      if (written + kReadAheadPadBytes <= set.discs[d].image_size)
        worst_slack =
            std::max(worst_slack, set.discs[d].image_size - written - kReadAheadPadBytes);
      ++discs;
    }
  }
  // The bound is close: it wastes at most a few sectors per folder of a small disc.
  EXPECT_GE(discs, 2);
  EXPECT_LE(worst_slack, 64 * kSectorBytes);
}

TEST(ImageFitTest, AFileGrownSinceThePlanStopsItsDisc) {
  TempDir root, images;
  test::write_file(root / "a/1.jpg", std::string(1000, 'a'));
  ImageEstimate one_sector;
  one_sector.add_file("a", "1.jpg", 1000);
  DiscSet set;
  std::string message;
  ASSERT_TRUE(plan_discs({root.str(), {"a"}, "t", -1, false, one_sector.bytes()}, set, message));
  ASSERT_EQ(set.discs.size(), 1u);
  test::write_file(root / "a/1.jpg", std::string(5000, 'a'));
  BurnOutcome outcome = burn_discs_to_images(set, images.str());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.message,
            "Disc Disc_001 no longer fits on its disc: its files have grown since it was "
            "planned.");
  EXPECT_TRUE(fs::is_empty(images.path()));
}

TEST(ImageFitTest, LinksAreNeitherBurnedNorCountedButNamed) {
  TempDir root, outside, images;
  test::write_file(root / "shoot/a.jpg", "REAL-IMAGE-MARKER" + std::string(5000, 'a'));
  test::write_file(root / "shoot/sub/b.jpg", std::string(700, 'b'));
  test::write_file(outside / "secret.txt", "SECRET-FILE-MARKER");
  test::write_file(outside / "dir/inner.jpg", "INNER-FOLDER-MARKER");
  fs::create_symlink(outside / "secret.txt", root / "shoot/secret-link");
  fs::create_directory_symlink(outside / "dir", root / "shoot/folder-link");
  fs::create_directory_symlink(root / "shoot", root / "alias");

  DiscSet set;
  std::string message;
  ASSERT_TRUE(plan_discs({root.str(), {"shoot", "alias"}, "Selected Folders", -1, true}, set,
                         message))
      << message;
  std::vector<std::string> skipped;
  for (const SkippedEntry& e : set.skipped) {
    EXPECT_TRUE(e.link) << e.path;
    skipped.push_back(e.path);
  }
  std::sort(skipped.begin(), skipped.end());
  EXPECT_EQ(skipped, (std::vector<std::string>{root / "alias", root / "shoot/folder-link",
                                               root / "shoot/secret-link"}));
  ASSERT_EQ(set.discs.size(), 1u);
  ASSERT_EQ(set.discs[0].folders.size(), 2u);
  EXPECT_EQ(set.discs[0].folders[0].files, (std::vector<std::string>{"a.jpg"}));
  EXPECT_EQ(set.discs[0].folders[1].name, "shoot/sub");
  EXPECT_EQ(set.discs[0].size, 5017u + 700u);
  ImageEstimate expected;
  expected.add_file("shoot", "a.jpg", 5017);
  expected.add_file("shoot/sub", "b.jpg", 700);
  EXPECT_EQ(set.discs[0].image_size, expected.bytes());

  // A planned file replaced by a link before the disc is written is left off it too.
  fs::remove(root / "shoot/sub/b.jpg");
  fs::create_symlink(outside / "secret.txt", root / "shoot/sub/b.jpg");
  test::captured_ui().clear();
  BurnOutcome outcome = burn_discs_to_images(set, images.str());
  ASSERT_TRUE(outcome.ok) << outcome.message;
  const std::string& pane = test::captured_ui().pane;
  for (const std::string& link : skipped)
    EXPECT_NE(pane.find("Not burned (symbolic link): " + link + "\n"), std::string::npos) << pane;
  EXPECT_NE(pane.find("Not burned (symbolic link): " + root / "shoot/sub/b.jpg"),
            std::string::npos)
      << pane;
  const std::string image = test::read_file(images / "Disc_001.iso");
  EXPECT_NE(image.find("REAL-IMAGE-MARKER"), std::string::npos);
  for (const char* absent : {"SECRET-FILE-MARKER", "INNER-FOLDER-MARKER", "secret-link",
                             "folder-link", "b.jpg", "alias"})
    EXPECT_EQ(image.find(absent), std::string::npos) << absent;
}

}  // namespace
}  // namespace cw
