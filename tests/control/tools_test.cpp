// What the tool windows and their commands stand on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "control/app_session.h"
#include "control/exif_values.h"
#include "control/gps_tracks.h"
#include "control/macro_laboratory.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

using test::TempDir;

TEST(MacroLaboratory, ExpandsWithTheNotesGivenNamesUnknownMacrosAndValuesTheReference) {
  AppSession session(test::captured_ui(), kSessionSettings);
  set_laboratory_property(session, "FilenamePrefix", "KTP");
  MacroEnvironment& env = next_ingestion_macros(session, std::string("wedding"));
  const MacroInputs sample = laboratory_sample_inputs();

  const LabExpansion known = expand_in_laboratory("{@prefix}-{@notes}-{@filename}", sample, env);
  EXPECT_TRUE(known.ok);
  EXPECT_EQ(known.text, "KTP-wedding-ABCD0001");
  EXPECT_TRUE(known.warning.empty());

  const LabExpansion unknown = expand_in_laboratory("{@model}", sample, env);
  EXPECT_EQ(unknown.text, "{@model}");  // kept as written
  ASSERT_EQ(unknown.unknown.size(), 1u);
  EXPECT_NE(unknown.warning.find("{@exif.model}"), std::string::npos) << unknown.warning;

  const std::vector<ReferenceLine> lines = macro_reference_values(sample, env);
  ASSERT_FALSE(lines.empty());
  EXPECT_FALSE(lines.front().heading.empty());
  const auto filename = std::find_if(lines.begin(), lines.end(), [](const ReferenceLine& l) {
    return l.specification == "{@filename}";
  });
  ASSERT_NE(filename, lines.end());
  EXPECT_EQ(filename->value, "ABCD0001");  // the name without its extension
}

TEST(ExifValues, ReadsValuesAndIdentityAndWalksTheStructureIntoTheSink) {
  TempDir dir;
  test::write_file(dir / "a.jpg", fixtures::make_jpeg("2024:05:17 12:01:00"));
  test::write_file(dir / "b.jpg", "not an image");
  ExifValueReader reader(false, nullptr);

  const ExifReading a = reader.read(dir / "a.jpg");
  EXPECT_TRUE(a.read);
  EXPECT_NE(std::find(a.values.begin(), a.values.end(),
                      std::pair<std::string, std::string>("DateTimeOriginal", "2024:05:17 12:01:00")),
            a.values.end());
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
  const std::vector<ImagePosition> at =
      locate_images(*tracks, {dir / "in.jpg", dir / "late.jpg", dir / "none.jpg"}, adjustment, false);
  ASSERT_EQ(at.size(), 3u);
  EXPECT_EQ(at[0].match, GpsMatch::kFound);
  EXPECT_NEAR(at[0].where.lat, 50.5, 0.01);
  EXPECT_EQ(at[1].match, GpsMatch::kOutOfRange);
  EXPECT_EQ(at[2].match, GpsMatch::kError);
}

}  // namespace
}  // namespace cw
