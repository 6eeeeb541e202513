// Discs written through libburn's stdio: pseudo-drive into image files, read back by xorriso.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "disc/burn.h"
#include "disc/libburn_recorder.h"
#include "tests/common/test_env.h"

namespace cw {
namespace {

using test::TempDir;

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

}  // namespace
}  // namespace cw
