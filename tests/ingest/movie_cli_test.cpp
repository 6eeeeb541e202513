// Movies named from their own dates and models: the header's UTC time in the computer's zone,
// or as the camera's local time with --video-times-local or the preference.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "tests/fixtures/programs.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

using test::sh_quote;

TEST(MovieIngest, MoviesAreNamedFromTheirOwnDatesAndModels) {
  if (!test::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  test::TempDir dir;
  const std::string card = dir / "card", folder = card + "/DCIM/100CAM";
  std::filesystem::create_directories(folder);
  const std::string movie =
      "ffmpeg -v error -y -f lavfi -i testsrc=duration=1:size=64x48:rate=5 "
      "-movflags use_metadata_tags -metadata creation_time=2021-05-12T10:21:21Z ";
  // An MP4 dated by its movie header only (10:21:21 UTC).
  ASSERT_EQ(test::run_command(movie + "-metadata com.apple.quicktime.model=ILCE-7M4 " +
                              sh_quote(folder + "/C0001.MP4")),
            0);
  // The computer is on Central European summer time (UTC+2) in May.
  auto ingest = [&](const std::string& archive, const std::string& options) {
    std::string out;
    const int status = test::run_cardwright(
        "ingest --card " + sh_quote(card) + " --primary " + sh_quote(archive) +
            " --no-backup --folder-format '' --name-format "
            "'{@datetimeany}_{@exif.Model}_{@filename}'" + options,
        &out, "", "TZ='CET-1CEST,M3.5.0,M10.5.0/3'");
    EXPECT_EQ(status, 0) << out;
    std::set<std::string> names;
    for (const std::string& file : test::image_files(archive))
      names.insert(std::filesystem::path(file).filename());
    return names;
  };
  const std::set<std::string> in_zone = {"20210512_122121_ILCE-7M4_C0001.MP4"};
  const std::set<std::string> as_local = {"20210512_102121_ILCE-7M4_C0001.MP4"};
  EXPECT_EQ(ingest(dir / "zone", ""), in_zone);
  EXPECT_EQ(ingest(dir / "flag", " --video-times-local"), as_local);
  ASSERT_EQ(test::run_cardwright("pref set VideoTimesLocal 1"), 0);
  EXPECT_EQ(ingest(dir / "preference", ""), as_local);
  ASSERT_EQ(test::run_cardwright("pref set VideoTimesLocal 0"), 0);
}

}  // namespace
}  // namespace cw
