// Capture-time corrections by calendar and by file.
#include "foundation/capture_shift.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/common/test_env.h"

namespace cw {
namespace {

TEST(CaptureShift, ExifDatesMoveOnTheCalendarAndAnythingElseStaysAsItIs) {
  // Across a leap day, a new year and back, with what follows the seconds kept.
  EXPECT_EQ(shift_exif_date("2024:02:28 23:30:00", 3600), "2024:02:29 00:30:00");
  EXPECT_EQ(shift_exif_date("2025:01:01 00:30:00", -3792), "2024:12:31 23:26:48");
  EXPECT_EQ(shift_exif_date("2023:02:28 23:59:59.25", 1), "2023:03:01 00:00:00.25");
  // Texts that name no time, and results outside four-digit years.
  for (const char* kept : {"", "0000:00:00 00:00:00", "    :  :     :  :  ", "2024:02:30 10:00:00",
                           "20240517_103000", "May 17 2024"})
    EXPECT_EQ(shift_exif_date(kept, 3600), kept) << kept;
  EXPECT_EQ(shift_exif_date("0001:01:01 00:00:10", -11), "0001:01:01 00:00:10");
  EXPECT_EQ(shift_exif_date("9999:12:31 23:59:59", 1), "9999:12:31 23:59:59");
  EXPECT_EQ(shift_exif_date("2024:05:17 10:00:00", INT64_MIN), "2024:05:17 10:00:00");
}

TEST(CaptureShift, CorrectionsBelongToTheFileNotToTheName) {
  test::TempDir dir;
  const std::string image = dir / "IMG_1.JPG";
  std::ofstream(image) << "x";
  std::ofstream(dir / "IMG_2.JPG") << "y";
  std::filesystem::create_symlink(image, dir / "link.JPG");
  struct stat st;
  ASSERT_EQ(::stat(image.c_str(), &st), 0);
  CaptureShifts shifts;
  shifts.set(st.st_dev, st.st_ino, {-3792, 0});
  EXPECT_EQ(shifts.find(dir / "link.JPG"), (CaptureShift{-3792, 0}));
  EXPECT_FALSE(shifts.find(dir / "IMG_2.JPG"));
  EXPECT_FALSE(shifts.find(dir / "missing.JPG"));
  shifts.set(st.st_dev, st.st_ino, {});  // no correction is no entry
  EXPECT_TRUE(shifts.empty());
}

}  // namespace
}  // namespace cw
