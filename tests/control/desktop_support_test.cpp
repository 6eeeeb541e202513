// What the desktop program's windows and its tool windows stand on: among them the pictures
// the image chooser shows for movies and CR3 raws.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "control/app_session.h"
#include "control/card_detection.h"
#include "control/card_monitor.h"
#include "control/drive_snapshot.h"
#include "control/exif_values.h"
#include "control/gps_tracks.h"
#include "control/image_choice.h"
#include "control/log_services.h"
#include "control/naming_preview.h"
#include "control/viewer.h"
#include "control/window_placement.h"
#include "platform/fake_drive_source.h"
#include "settings/param.h"
#include "settings/preferences.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/bmff_builder.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

using namespace fixtures;
using test::TempDir;
using ::testing::ElementsAre;

constexpr std::time_t kMay17 = 1715940000;  // 2024-05-17, mid-day in any zone
constexpr std::time_t kMay18 = kMay17 + 86400;

std::string bytes_of(const Thumbnail& t) { return std::string(t.bytes.begin(), t.bytes.end()); }

// Each image listed as its folder and name.
std::vector<std::string> listed(const std::vector<ChoiceImage>& images) {
  std::vector<std::string> names;
  for (const ChoiceImage& i : images) names.push_back(i.folder + "/" + i.name);
  return names;
}

TEST(ImageChoice, ListsInScanOrderThroughTheFilterAndFiltersByFolderDayAndType) {
  TempDir dir;
  const std::string jpeg = fixtures::make_jpeg("2024:05:17 10:00:00");
  ASSERT_TRUE(fixtures::write_with_time(dir / "100/b.JPG", jpeg, kMay17));
  ASSERT_TRUE(fixtures::write_with_time(dir / "100/A.cr2", "raw", kMay17));
  ASSERT_TRUE(fixtures::write_with_time(dir / "100/A.xmp", "<x/>", kMay17));
  ASSERT_TRUE(fixtures::write_with_time(dir / "100/notes.txt", "text", kMay17));
  ASSERT_TRUE(fixtures::write_with_time(dir / "101/a.jpg", jpeg, kMay18));
  std::vector<ChoiceImage> images = list_choice_images(dir.str(), true, "JPG cr2");
  EXPECT_THAT(listed(images), ElementsAre("100/A.cr2", "100/b.JPG", "101/a.jpg"));

  const ChoiceFacets facets = choice_facets(images);
  EXPECT_THAT(facets.types, ElementsAre("CR2", "JPG"));
  EXPECT_EQ(facets.days.size(), 2u);
  auto count = [&](const ChoiceFilter& f) {
    return std::count_if(images.begin(), images.end(), [&](const auto& i) { return f.admits(i); });
  };
  EXPECT_EQ(count({"", "", "JPG"}), 2);
  EXPECT_EQ(count({"101", "", ""}), 1);
  EXPECT_EQ(count({"100", images[2].day, ""}), 0);
  EXPECT_THAT(chosen_paths(images, {false, true, true}),
              ElementsAre(dir / "100/b.JPG", dir / "101/a.jpg"));
  EXPECT_TRUE(list_choice_images(dir / "missing", false, "").empty());
}

TEST(ImageChoice, ThumbnailsComeFromEmbeddedPreviews) {
  CW_REQUIRE_CORPUS(corpus);
  for (const char* raw_file :
       {"camera/Panasonic.rw2", "camera/FujiFilm.raf", "camera/exiv2-canon-powershot-s40.crw"}) {
    const Thumbnail raw = read_thumbnail((corpus / raw_file).string());
    ASSERT_EQ(raw.kind, Thumbnail::Kind::kJpeg) << raw_file;
    EXPECT_EQ(raw.bytes.at(1), 0xD8);
  }
  const Thumbnail large = read_thumbnail((corpus / "camera/ReaganLargeJpg.jpg").string());
  EXPECT_EQ(large.kind, Thumbnail::Kind::kJpeg);
  EXPECT_EQ(large.bytes.size(), 2713u);  // its EXIF thumbnail, not the 1.6 MB image

  TempDir dir;
  test::write_file(dir / "plain.jpg", fixtures::make_jpeg("2024:05:17 10:00:00"));
  test::write_file(dir / "notes.txt", "not an image");
  EXPECT_EQ(read_thumbnail(dir / "plain.jpg").kind, Thumbnail::Kind::kJpegFile);
  EXPECT_EQ(read_thumbnail(dir / "notes.txt").kind, Thumbnail::Kind::kNone);
}

TEST(ImageChoice, CardClipsPostersAndPhoneDngPreviewsAreFound) {
  TempDir dir;
  const std::string card = dir / "card";
  const std::string jpeg = make_jpeg(JpegSpec{});
  // A clip with its companion beside it, the camera's own thumbnail folder, a THM poster.
  const std::string data = bmff_box("data", std::string(8, '\0') + jpeg);
  const std::string cover = bmff_full_box("meta", 0, bmff_box("ilst", bmff_box("covr", data)));
  const std::string movie =
      bmff_box("ftyp", "mp42" + be32(0) + "mp42") +
      bmff_box("moov", bmff_full_box("mvhd", 0, be32(0) + be32(0) + be32(1000) + be32(75400)) +
                           bmff_box("udta", cover));
  test::write_file(card + "/PRIVATE/M4ROOT/CLIP/C0001.MP4", movie);
  test::write_file(card + "/PRIVATE/M4ROOT/CLIP/C0001M01.XML", "<NonRealTimeMeta/>");
  test::write_file(card + "/PRIVATE/M4ROOT/THMBNL/C0001T01.JPG", jpeg);
  test::write_file(card + "/DCIM/100CANON/MVI_0001.MOV", "no movie boxes");
  test::write_file(card + "/DCIM/100CANON/MVI_0001.THM", jpeg);
  // Hidden files are taken as the scan takes them; another system's housekeeping is not.
  test::write_file(card + "/DCIM/100CANON/.IMG_0002.JPG", jpeg);
  test::write_file(card + "/DCIM/100CANON/._MVI_0001.MOV", std::string("\0\x05\x16\x07", 4));
  test::write_file(card + "/DCIM/.Trashes/IMG_0003.JPG", jpeg);
  EXPECT_THAT(listed(list_choice_images(card + "/DCIM", false, "THM")),
              ElementsAre("100CANON/.IMG_0002.JPG", "100CANON/MVI_0001.MOV", "CLIP/C0001.MP4"));
  const std::vector<ChoiceImage> from_root = list_choice_images(card, false, "THM");
  EXPECT_THAT(listed(from_root),
              ElementsAre("DCIM/100CANON/.IMG_0002.JPG", "DCIM/100CANON/MVI_0001.MOV",
                          "PRIVATE/M4ROOT/CLIP/C0001.MP4"));
  EXPECT_TRUE(from_root[2].video);

  const Thumbnail clip = read_thumbnail(card + "/PRIVATE/M4ROOT/CLIP/C0001.MP4");
  EXPECT_TRUE(clip.video);
  EXPECT_DOUBLE_EQ(clip.duration, 75.4);
  EXPECT_EQ(clip.kind, Thumbnail::Kind::kJpeg);
  EXPECT_EQ(bytes_of(clip), jpeg);
  const Thumbnail mov = read_thumbnail(card + "/DCIM/100CANON/MVI_0001.MOV");
  EXPECT_EQ(mov.kind, Thumbnail::Kind::kJpeg);  // the THM poster
  EXPECT_LT(mov.duration, 0);

  // A phone's DNG: its preview is a YCbCr JPEG strip, the raw data a one-sample strip.
  TiffBuilder t(false);
  const std::uint32_t at = 8, jpeg_at = 400;
  const std::uint32_t raw_at = jpeg_at + static_cast<std::uint32_t>(jpeg.size());
  t.ifd(at, {t.longs(0xfe, {1}), t.longs(0x100, {64}), t.longs(0x101, {48}), t.shorts(0x103, {7}),
             t.shorts(0x106, {6}), t.longs(0x111, {jpeg_at}), t.shorts(0x115, {3}),
             t.longs(0x117, {static_cast<std::uint32_t>(jpeg.size())}), t.longs(0x14a, {200})},
        0, 160);
  t.ifd(200, {t.longs(0xfe, {0}), t.longs(0x100, {4}), t.longs(0x101, {2}), t.shorts(0x103, {1}),
              t.shorts(0x106, {32803}), t.longs(0x111, {raw_at}), t.shorts(0x115, {1}),
              t.longs(0x117, {16})},
        0, 330);
  t.put(jpeg_at, jpeg);
  t.put(raw_at, std::string(16, '\x7f'));
  test::write_file(dir / "phone.dng", t.bytes());
  const Thumbnail dng = read_thumbnail(dir / "phone.dng");
  ASSERT_EQ(dng.kind, Thumbnail::Kind::kJpeg);
  EXPECT_EQ(bytes_of(dng), jpeg);
}

TEST(MoviePoster, AMovieMadeByFfmpegShowsItsCover) {
  if (!test::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string cover = make_jpeg(JpegSpec{.width = 32, .height = 24});
  const std::string movie = dir / "covered.mp4";
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
  const std::string jpeg = make_jpeg(JpegSpec{.width = 160, .height = 120});
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
  spec.thumbnail_jpeg = make_jpeg(JpegSpec{.width = 160, .height = 120});
  spec.preview_jpeg = make_jpeg(JpegSpec{.width = 400, .height = 266, .seed = 2});
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
  bare.full_jpeg = make_jpeg(JpegSpec{.width = 600, .height = 400, .seed = 3});
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

TEST(NamingPreview, ExpandsTheMastersSpecificationsForTheFirstImage) {
  TempDir dir;
  ASSERT_TRUE(fixtures::write_with_time(dir / "IMG_0001.JPG",
                                        fixtures::make_jpeg("2023:12:31 10:00:00"), kMay17));
  AppSession session(test::captured_ui(), kSessionSettings);
  CWPreset& m = session.settings().master();
  m.put_str("NameFormat", "{@sequence}_{@filename}");
  m.put_str("FolderFormat", "{@datetimeany,1,4}");
  set_starting_number("7");
  EXPECT_EQ(naming_preview(session, dir / "IMG_0001.JPG"), "2023/000007_IMG_0001.JPG");
  // A format being typed, in place of the master's: for the card's image, or for the sample.
  EXPECT_EQ(name_format_example(session, "{@datetimeany,1,6}-{@filename}", dir / "IMG_0001.JPG"),
            "202312-IMG_0001.JPG");
  EXPECT_EQ(name_format_example(session, "{@datetimeany}_{@filename,-4}", std::nullopt),
            "20240601_143000_0042.JPG");
}

TEST(LogServices, TheLogIsFollowedByWholeLinesAndFromItsStartAfterAClear) {
  TempDir dir;
  const std::string log = dir / "log.txt";
  LogFollower follower(log);
  EXPECT_EQ(follower.read().text, "");  // no log yet
  test::write_file(log, "one\ntwo\npar");
  EXPECT_EQ(follower.read().text, "one\ntwo\n");
  std::ofstream(log, std::ios::app) << "tly\nthree\n";
  EXPECT_EQ(follower.read().text, "partly\nthree\n");
  EXPECT_EQ(follower.read().text, "");
  std::filesystem::remove(log);  // as Clear Log clears it
  test::write_file(log, "Cleared by user\n");
  const LogFollower::Lines again = follower.read();
  EXPECT_TRUE(again.restarted);
  EXPECT_EQ(again.text, "Cleared by user\n");

  // A long log is shown from its end, starting at a whole line.
  test::write_file(log, "line one\nline two\nline three\n");
  const LogFollower::Lines end = LogFollower(log, 15).read();
  EXPECT_TRUE(end.cut);
  EXPECT_EQ(end.text, "line three\n");
}

// Without an editor or the desktop's opener the user is told where the log is.
TEST(LogServices, TheLogOpensOnlyWithAProgramThatIsThere) {
  TempDir dir;
  std::filesystem::create_directories(dir / "bin");
  const std::string saved_path = std::getenv("PATH");
  ::setenv("PATH", (dir / "bin").c_str(), 1);
  ::unsetenv("VISUAL");
  ::unsetenv("EDITOR");
  std::vector<std::string> started;
  auto launch = [&](const std::string& program, const std::vector<std::string>&) {
    started.push_back(program);
    return true;
  };
  test::captured_ui().clear();
  EXPECT_FALSE(view_log("/home/ann/log.txt", launch));
  EXPECT_THAT(test::captured_ui().alerts, ElementsAre(::testing::HasSubstr("/home/ann/log.txt")));
  test::write_file(dir / "bin/xdg-open", "#!/bin/sh\n");
  std::filesystem::permissions(dir / "bin/xdg-open", std::filesystem::perms::owner_all);
  EXPECT_TRUE(view_log("/home/ann/log.txt", launch));
  ::setenv("PATH", saved_path.c_str(), 1);
  EXPECT_THAT(started, ElementsAre("xdg-open"));
}

TEST(Viewer, GetsAFolderWithSpacesAsOneUnquotedArgumentWhateverTheQuoteSwitch) {
  CWParam param;
  CWPreset& m = param.master();
  m.put_str("ViewerApp", "/usr/bin/viewer");
  m.put_int("ViewerFolder", 1);
  std::vector<std::vector<std::string>> launched;
  auto launch = [&](const std::string& program, const std::vector<std::string>& args) {
    EXPECT_EQ(program, "/usr/bin/viewer");
    launched.push_back(args);
    return true;
  };
  for (int quote : {1, 0}) {
    m.put_int("FolderHasSpaces", quote);
    test::captured_ui().clear();
    launch_viewer(m, std::string("/photos/Summer Trip 2024/."), launch);
    EXPECT_EQ(test::captured_ui().pane,
              "\nLaunching /usr/bin/viewer with folder /photos/Summer Trip 2024\n");
  }
  EXPECT_THAT(launched, ElementsAre(ElementsAre("/photos/Summer Trip 2024"),
                                    ElementsAre("/photos/Summer Trip 2024")));
}

TEST(WindowPlacement, RoundTripsAndRefusesWhatIsNotAPlacement) {
  const WindowPlacement p{120, 80, 900, 700, true};
  std::vector<std::uint8_t> bytes = encode_placement(p);
  ASSERT_EQ(bytes.size(), kPlacementBytes);
  const auto back = decode_placement(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(std::tie(back->x, back->y, back->width, back->height, back->maximized),
            std::tie(p.x, p.y, p.width, p.height, p.maximized));
  EXPECT_FALSE(decode_placement({bytes.begin(), bytes.end() - 1}));
  EXPECT_FALSE(decode_placement(encode_placement({0, 0, 0, 10, false})));
  bytes[0] = 40;
  EXPECT_FALSE(decode_placement(bytes));
  EXPECT_TRUE(save_window_placement(p));
  EXPECT_EQ(load_window_placement()->width, 900);
}

TEST(WindowPlacement, FitsTheScreenItOpensOn) {
  // The first start: a share of the screen, centred, that grows with the screen.
  const ScreenArea laptop{0, 0, 1366, 728}, desk{0, 32, 2560, 1400};
  const WindowPlacement small = fit_window_placement(std::nullopt, laptop, 900, 640);
  const WindowPlacement large = fit_window_placement(std::nullopt, desk, 900, 640);
  EXPECT_GE(small.x, 0);
  EXPECT_LE(small.x + small.width, laptop.width);
  EXPECT_GE(small.height, 640);  // the least the window needs, though above its share
  EXPECT_LE(small.y + small.height, laptop.height);
  EXPECT_GT(large.width, small.width * 3 / 2);
  EXPECT_GT(large.height, small.height * 3 / 2);
  EXPECT_EQ(large.x, (2560 - large.width) / 2);
  EXPECT_EQ(large.y, 32 + (1400 - large.height) / 2);
  // A window closed on the large screen opens within the small one, keeping what fits.
  const WindowPlacement back =
      fit_window_placement(WindowPlacement{1500, 900, 1000, 700, true}, laptop, 900, 640);
  EXPECT_EQ(std::tie(back.x, back.y, back.width, back.height, back.maximized),
            std::make_tuple(366, 28, 1000, 700, true));
}

TEST(DriveSnapshot, AnswersDetectionAndTheMonitorAsTheLiveDrivesDo) {
  FakeDriveSource live;
  live.add_card("E:\\", "EOS_DIGITAL", "Canon", "SD");
  live.add_drive("C:\\");
  live.add_card("F:\\", "", "Generic", "CF");
  DriveSnapshot snapshot = DriveSnapshot::take(live);
  CardState from_live, from_snapshot;
  DetectCard(live, from_live);
  DetectCard(snapshot, from_snapshot);
  EXPECT_EQ(from_snapshot.card_text, from_live.card_text);
  const std::vector<MonitorCard> cards = cards_for_monitor(snapshot);
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(cards[0].volume_name + "|" + cards[0].device_name, "EOS_DIGITAL|Canon SD");
  EXPECT_EQ(cards[1].volume_name, "NO NAME");

  live.list_error = EIO;
  EXPECT_FALSE(DriveSnapshot::take(live).roots());
}

TEST(ExifValues, ReadsValuesAndIdentityAndWalksTheStructureIntoTheSink) {
  TempDir dir;
  test::write_file(dir / "a.jpg", fixtures::make_jpeg("2024:05:17 12:01:00"));
  test::write_file(dir / "b.jpg", "not an image");
  ExifValueReader reader(false, nullptr);

  const ExifReading a = reader.read(dir / "a.jpg");
  EXPECT_TRUE(a.read);
  const std::pair<std::string, std::string> taken("DateTimeOriginal", "2024:05:17 12:01:00");
  EXPECT_NE(std::find(a.values.begin(), a.values.end(), taken), a.values.end());
  EXPECT_NE(a.capture_identity.find("2024:05:17 12:01:00"), std::string::npos);
  std::string structure, message;
  EXPECT_TRUE(reader.dump(dir / "a.jpg", [&](std::string_view t) { structure += t; }, message));
  EXPECT_FALSE(structure.empty());

  const ExifReading b = reader.read(dir / "b.jpg");
  EXPECT_FALSE(b.read);
  EXPECT_FALSE(b.message.empty());
  EXPECT_TRUE(b.capture_identity.empty());
}

TEST(GpsTracks, PlacesImagesOnTheLoadedTrackUnderTheClock) {
  TempDir dir;
  std::string message;
  EXPECT_EQ(load_track_files({dir / "none.gpx"}, CameraZone(), "", message), nullptr);
  EXPECT_FALSE(message.empty());

  test::write_file(dir / "t.gpx", "<trk><trkpt lat='50' lon='10'><time>2024-05-17T12:00:00Z</time>"
                                  "</trkpt><trkpt lat='51' lon='11'><time>2024-05-17T12:10:00Z"
                                  "</time></trkpt></trk>");
  const std::unique_ptr<GPX> tracks = load_track_files({dir / "t.gpx"}, CameraZone(), "", message);
  ASSERT_NE(tracks, nullptr) << message;
  for (const auto& [name, when] : {std::pair{"in.jpg", "2024:05:17 11:05:00"},
                                   {"late.jpg", "2024:05:17 13:05:00"}, {"none.jpg", ""}})
    test::write_file(dir / name, fixtures::make_jpeg(when));
  // The camera ran an hour slow: 11:05 on its clock is 12:05 on the track.
  const std::optional<std::int64_t> showed = camera_time_seconds("2024-05-17 11:00:00");
  ASSERT_TRUE(showed);
  EXPECT_EQ(showed, camera_time_seconds("2024:05:17 11:00:00"));
  EXPECT_FALSE(camera_time_seconds("2024-05-17"));
  const std::int64_t adjustment = camera_clock_adjustment(*showed, *showed + 3600);
  const std::vector<ImagePosition> at = locate_images(
      *tracks, {dir / "in.jpg", dir / "late.jpg", dir / "none.jpg"}, adjustment, false);
  ASSERT_EQ(at.size(), 3u);
  EXPECT_EQ(at[0].match, GpsMatch::kFound);
  EXPECT_NEAR(at[0].where.lat, 50.5, 0.01);
  EXPECT_EQ(at[1].match, GpsMatch::kOutOfRange);
  EXPECT_EQ(at[2].match, GpsMatch::kError);
}

}  // namespace
}  // namespace cw
