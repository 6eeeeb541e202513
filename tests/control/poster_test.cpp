// The pictures the chooser shows for movies, CR3 raws and AVIF images: a movie's cover, the
// camera's thumbnail inside it, or nothing but its length; a CR3's thumbnail for a tile and its
// largest preview for the large view, whichever of them the file still holds; an AVIF decoded.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "control/image_choice.h"
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

TEST(MoviePoster, MoviesMadeByFfmpegShowTheirCoverOrElseTheirLength) {
  if (!test::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string cover = jpeg_of(32, 24);
  test::write_file(dir / "cover.jpg", cover);
  const std::string plain = dir / "plain.mp4", covered = dir / "covered.mp4",
                    quicktime = dir / "plain.mov";
  const std::string clip = "ffmpeg -v error -y -f lavfi -i testsrc=duration=3:size=64x48:rate=5 ";
  ASSERT_EQ(test::run_command(clip + test::sh_quote(plain)), 0);
  ASSERT_EQ(test::run_command(clip + test::sh_quote(quicktime)), 0);
  ASSERT_EQ(test::run_command("ffmpeg -v error -y -i " + test::sh_quote(plain) + " -i " +
                              test::sh_quote(dir / "cover.jpg") +
                              " -map 0 -map 1 -c copy -disposition:v:1 attached_pic " +
                              test::sh_quote(covered)),
            0);
  for (const std::string& movie : {plain, quicktime}) {
    const Thumbnail t = read_thumbnail(movie);
    EXPECT_TRUE(t.video) << movie;
    EXPECT_EQ(t.kind, Thumbnail::Kind::kNone) << movie;
    EXPECT_NEAR(t.duration, 3.0, 0.05) << movie;
  }
  const Thumbnail with_cover = read_thumbnail(covered);
  ASSERT_EQ(with_cover.kind, Thumbnail::Kind::kJpeg);
  EXPECT_EQ(bytes_of(with_cover), cover);
  EXPECT_NEAR(with_cover.duration, 3.0, 0.05);
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

TEST(HeifPreview, AnAvifImageIsDecodedToFitTheTile) {
  if (!test::have_program("heif-enc") || !test::have_program("ffmpeg"))
    GTEST_SKIP() << "heif-enc and ffmpeg make the AVIF";
  TempDir dir;
  ASSERT_EQ(test::run_command("ffmpeg -v error -y -f lavfi -i color=0x1428E6:size=640x480 "
                              "-frames:v 1 " + test::sh_quote(dir / "blue.png")),
            0);
  ASSERT_EQ(test::run_command("heif-enc -A -q 80 -o " + test::sh_quote(dir / "IMG_0001.AVIF") +
                              " " + test::sh_quote(dir / "blue.png") + " >/dev/null"),
            0);
  const Thumbnail t = read_thumbnail(dir / "IMG_0001.AVIF", 160);
  ASSERT_EQ(t.kind, Thumbnail::Kind::kRgb);
  EXPECT_EQ(t.width, 160);
  EXPECT_EQ(t.height, 120);
  // The middle pixel is the picture's blue.
  const std::size_t middle = (static_cast<std::size_t>(t.height / 2) * t.width + t.width / 2) * 3;
  EXPECT_LT(t.bytes.at(middle), 60);
  EXPECT_GT(t.bytes.at(middle + 2), 180);
}

}  // namespace
}  // namespace cw
