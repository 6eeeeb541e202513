// The pictures the chooser shows for movies and CR3 raws, and the one source it does not open:
// a camera on its cable, whose images Start takes whole.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "control/app_session.h"
#include "control/image_choice.h"
#include "platform/fake_drive_source.h"
#include "settings/param.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/bmff_builder.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/programs.h"

namespace cw {
namespace {

using namespace fixtures;
using test::TempDir;

std::string jpeg_of(int width, int height, unsigned seed = 1) {
  JpegSpec spec;
  spec.width = width;
  spec.height = height;
  spec.seed = seed;
  return make_jpeg(spec);
}

std::string bytes_of(const Thumbnail& t) { return std::string(t.bytes.begin(), t.bytes.end()); }

TEST(MoviePoster, AMovieMadeByFfmpegShowsItsCover) {
  if (!test::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string cover = jpeg_of(32, 24), movie = dir / "covered.mp4";
  test::write_file(dir / "cover.jpg", cover);
  ASSERT_EQ(test::run_command("ffmpeg -v error -f lavfi -i testsrc=duration=3:size=64x48:rate=5 "
                              "-i " + test::sh_quote(dir / "cover.jpg") +
                              " -map 0 -map 1 -c:v:1 copy -disposition:v:1 attached_pic " +
                              test::sh_quote(movie)),
            0);
  const Thumbnail t = read_thumbnail(movie);
  ASSERT_EQ(t.kind, Thumbnail::Kind::kJpeg);
  EXPECT_EQ(bytes_of(t), cover);
  EXPECT_NEAR(t.duration, 3.0, 0.05);
}

// Cameras keep their thumbnail in the movie itself: in a box of the user data, or in their
// metadata box as in their raws. An older QuickTime movie starts without a file type box, and
// one whose movie header leaves the length unset has it in its tracks' media headers.
TEST(MoviePoster, CamerasThumbnailsInsideTheMovieAndTheTracksLength) {
  TempDir dir;
  const std::string jpeg = jpeg_of(160, 120);
  // Version 0 headers: times, then time scale and length.
  auto header = [](const char* type, std::uint32_t scale, std::uint32_t length) {
    return bmff_full_box(type, 0, be32(0) + be32(0) + be32(scale) + be32(length));
  };
  auto track = [&](std::uint32_t scale, std::uint32_t length) {
    return bmff_box("trak", bmff_box("mdia", header("mdhd", scale, length)));
  };
  const std::string unset_length = header("mvhd", 600, 0) + track(600, 4200) + track(48000, 5000);
  const std::string user_data =
      bmff_box("udta", bmff_box("\xa9" "fmt", "x") + bmff_box("CNTH", bmff_box("CNDA", jpeg)));
  test::write_file(dir / "MVI_0001.MOV", bmff_box("wide", "") +
                                             bmff_box("moov", unset_length + user_data) +
                                             bmff_box("mdat", std::string(32, '\0')));
  // The maker's metadata box: a TIFF structure (which may hold any bytes) before the THMB box.
  const std::string tiff_with_marker = std::string("II*\0\x08\0\0\0\xFF\xD8\xFF\xE0", 12);
  const std::string maker_box = bmff_uuid_box(
      cr3_metadata_uuid(), bmff_box("CMT1", tiff_with_marker) +
                               bmff_box("THMB", std::string(16, '\0') + jpeg + "pad"));
  test::write_file(dir / "MVI_0002.MP4",
                   bmff_box("ftyp", "mp42" + be32(0) + "mp42") +
                       bmff_box("moov", header("mvhd", 1000, 12500) + maker_box));
  const Thumbnail from_user_data = read_thumbnail(dir / "MVI_0001.MOV");
  ASSERT_EQ(from_user_data.kind, Thumbnail::Kind::kJpeg);
  EXPECT_EQ(bytes_of(from_user_data), jpeg);
  EXPECT_DOUBLE_EQ(from_user_data.duration, 7.0);
  const Thumbnail from_maker_box = read_thumbnail(dir / "MVI_0002.MP4");
  ASSERT_EQ(from_maker_box.kind, Thumbnail::Kind::kJpeg);
  EXPECT_EQ(bytes_of(from_maker_box), jpeg);
  EXPECT_DOUBLE_EQ(from_maker_box.duration, 12.5);
}

TEST(RawPreview, ACr3GivesItsThumbnailItsPreviewOrItsFullSizeJpeg) {
  TempDir dir;
  Cr3Spec spec;
  spec.thumbnail_jpeg = jpeg_of(160, 120);
  spec.preview_jpeg = jpeg_of(400, 266, 2);
  const std::string cr3 = build_cr3(spec);
  test::write_file(dir / "IMG_0001.CR3", cr3);
  const Thumbnail tile = read_thumbnail(dir / "IMG_0001.CR3");
  ASSERT_EQ(tile.kind, Thumbnail::Kind::kJpeg);
  EXPECT_EQ(bytes_of(tile), spec.thumbnail_jpeg);
  EXPECT_FALSE(tile.video);
  EXPECT_EQ(bytes_of(read_large_preview(dir / "IMG_0001.CR3")), spec.preview_jpeg);

  // Cut in the middle of its preview: the thumbnail before it is still whole.
  test::write_file(dir / "IMG_0002.CR3", cr3.substr(0, cr3.find(spec.preview_jpeg) + 100));
  EXPECT_EQ(bytes_of(read_thumbnail(dir / "IMG_0002.CR3")), spec.thumbnail_jpeg);

  // Neither thumbnail nor preview: the full-size JPEG of the first track, for both.
  Cr3Spec bare;
  bare.full_jpeg = jpeg_of(600, 400, 3);
  test::write_file(dir / "IMG_0003.CR3", build_cr3(bare));
  EXPECT_EQ(bytes_of(read_thumbnail(dir / "IMG_0003.CR3")), bare.full_jpeg);
  EXPECT_EQ(bytes_of(read_large_preview(dir / "IMG_0003.CR3")), bare.full_jpeg);

  // The corpus's CR3 holds stand-in texts where its pictures would be: no picture, no crash.
  if (const auto corpus = test::corpus_dir()) {
    const Thumbnail none = read_thumbnail((*corpus / "modern/CanonRaw.cr3").string());
    EXPECT_EQ(none.kind, Thumbnail::Kind::kNone);
  }
}

struct OneCamera : NoCameraSource {
  std::vector<std::pair<std::string, std::string>> devices() override {
    return {{"usb:001,004", "Z 8"}};
  }
};

TEST(ChooserSource, ACameraPickedIsRefusedWithTheReason) {
  test::captured_ui().clear();
  SessionServices services;
  services.drives = [] { return std::make_unique<FakeDriveSource>(); };
  services.cameras = std::make_unique<OneCamera>();
  AppSession session(test::captured_ui(), kSessionIngest, std::move(services));
  ASSERT_TRUE(session.ok());
  session.settings().master().put_str("CardFolder", "[user choice]");
  test::captured_ui().list_answers = {0};  // "Device: Z 8"
  EXPECT_EQ(chooser_folder(session), "");
  EXPECT_THAT(test::captured_ui().alerts, ::testing::ElementsAre(kCameraNotChosenMessage));
  test::captured_ui().clear();
}

}  // namespace
}  // namespace cw
