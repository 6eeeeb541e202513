// The shared fixture generators, read back by exiftool: other suites rely on these files
// carrying exactly the EXIF values and times they were given.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/common/test_env.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/sample_card.h"

namespace cw {
namespace {

TEST(Fixtures, SampleCardFilesCarryTheirExifAndTimes) {
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  for (bool big_endian : {false, true}) {
    test::TempDir dir;
    fixtures::CardSpec spec;
    spec.count = 4;
    spec.raw_every = 2;
    spec.raw_extension = "NEF";
    spec.camera.big_endian = big_endian;
    spec.camera.model = big_endian ? "Model MM" : "Model II";
    const auto paths = fixtures::write_sample_card(dir.str(), spec);
    ASSERT_EQ(paths.size(), 4u);
    EXPECT_EQ(paths[1], dir / "DCIM/100CWTST/IMG_0002.NEF");
    for (std::size_t i = 0; i < paths.size(); ++i) {
      std::string out;
      test::run_command("exiftool -j -n -EXIF:all -ThumbnailImage '" + paths[i] + "'", &out);
      const std::string date = fixtures::exif_date_plus(spec.first_capture, long(i) * 7);
      for (const std::string& expected :
           {"\"DateTimeOriginal\": \"" + date + "\"", "\"ModifyDate\": \"" + date + "\"",
            "\"Model\": \"" + spec.camera.model + "\"", std::string("\"ExposureTime\": 0.004"),
            std::string("\"FNumber\": 2.8"), std::string("\"ISO\": 200"),
            std::string("\"FocalLength\": 50")})
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
      const bool raw = i % 2 == 1;
      EXPECT_EQ(out.find("ThumbnailImage") != std::string::npos, raw) << out;
      EXPECT_EQ(out.find("Warning"), std::string::npos) << out;
      struct stat st {};
      ASSERT_EQ(stat(paths[i].c_str(), &st), 0);
      EXPECT_EQ(st.st_mtime, fixtures::exif_date_to_time(date));
      if (!raw) {
        EXPECT_EQ(test::run_command("djpeg -outfile /dev/null '" + paths[i] + "'"), 0);
      }
    }
  }
}

}  // namespace
}  // namespace cw
