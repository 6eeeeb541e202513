// Sidecar placement beside copied images: copied, generated, or left alone.
#include "ingest/sidecar_placement.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "ingest/card_layout.h"
#include "ingest/slot_control.h"
#include "metadata/sidecar.h"
#include "tests/common/test_env.h"
#include "tests/sidecar/sidecar_fixtures.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using ::testing::HasSubstr;
using test::write_file;

constexpr const char* kTemplate =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
    "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
    "<rdf:Description rdf:about=\"\"\n"
    "  xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
    "<dc:identifier>{@filename}-{@sequence}-{@datetime}</dc:identifier>\n"
    "</rdf:Description>\n"
    "</rdf:RDF>\n"
    "</x:xmpmeta>\n";

class PlacementTest : public ::testing::Test {
 protected:
  PlacementTest() : ctx(EngineJob{&control, 0, "test", {}}) {
    fs::create_directories(out);
    write_file(card + "/IMG_0001.CR2", "raw bytes");
    template_path = dir / "template.xmp";
    write_file(template_path, kTemplate);
  }

  // A first copy of IMG_0001.CR2 to `target`.
  bool first_copy(const std::string& target) {
    return create_sidecar(ctx, card + "/IMG_0001.CR2", &base, &date, &number, true, target);
  }
  // A copy-only copy of `source` to `target`.
  bool copy_only(const std::string& source, const std::string& target) {
    return create_sidecar(ctx, source, nullptr, nullptr, nullptr, false, target);
  }

  test::TempDir dir;
  const std::string card = dir / "card";
  const std::string out = dir / "out";
  std::string template_path;
  const std::string base = "IMG_0001", date = "20260314_091502", number = "0042";
  SingleSlotControl control;
  EngineContext ctx;
};

TEST_F(PlacementTest, GeneratedFromTemplateOnceAndNeverReplaced) {
  ctx.sidecar_template = template_path;
  ctx.raw_settings_path = dir / "Warm Portrait.lrtemplate";
  write_file(ctx.raw_settings_path, test::kDevelopPreset);
  const std::string target = out + "/Trip_0042.CR2";
  ASSERT_TRUE(first_copy(target)) << ctx.error;
  const std::string made = read_file(out + "/Trip_0042.xmp");
  EXPECT_THAT(made, HasSubstr("<dc:identifier>IMG_0001-0042-20260314_091502</dc:identifier>"));
  EXPECT_NE(made.find("<crs:Exposure2012>0.35</crs:Exposure2012>"), std::string::npos) << made;

  // An existing target sidecar stays as it is, in the first copy and in copy-only mode.
  write_file(out + "/Trip_0042.xmp", "edited by the photographer");
  ASSERT_TRUE(first_copy(target)) << ctx.error;
  ASSERT_TRUE(copy_only(card + "/IMG_0001.CR2", target)) << ctx.error;
  EXPECT_EQ(read_file(out + "/Trip_0042.xmp"), "edited by the photographer");
  // A four-character extension has no sidecar name beside it.
  ASSERT_TRUE(first_copy(out + "/Trip_0043.JPEG")) << ctx.error;
  EXPECT_FALSE(fs::exists(out + "/Trip_0043.xmp"));
}

TEST_F(PlacementTest, CardSidecarIsCopiedNotGenerated) {
  ctx.sidecar_template = template_path;
  // Cameras write the card's sidecar in capitals.
  write_file(card + "/IMG_0001.XMP", "<x:xmpmeta>from the card {@filename}</x:xmpmeta>\n");
  ASSERT_TRUE(first_copy(out + "/Trip_0042.CR2")) << ctx.error;
  EXPECT_EQ(read_file(out + "/Trip_0042.xmp"), "<x:xmpmeta>from the card {@filename}</x:xmpmeta>\n");
  // The sidecar met as a file of its own is not given a sidecar.
  ASSERT_TRUE(copy_only(card + "/IMG_0001.XMP", out + "/Trip_0042.XMP")) << ctx.error;
  EXPECT_EQ(read_file(out + "/Trip_0042.xmp"), "<x:xmpmeta>from the card {@filename}</x:xmpmeta>\n");
  EXPECT_EQ(existing_source_sidecar("a.b"), std::nullopt);
}

TEST_F(PlacementTest, NothingWantedWithBothPathsEmptyAndAMissingTemplateFails) {
  ASSERT_TRUE(first_copy(out + "/Trip_0042.CR2")) << ctx.error;
  ASSERT_TRUE(copy_only(card + "/IMG_0001.CR2", out + "/Trip_0044.CR2")) << ctx.error;
  EXPECT_TRUE(fs::is_empty(out));
  // A sidecar that cannot be generated fails the image, and leaves nothing behind.
  ctx.sidecar_template = dir / "missing.xmp";
  EXPECT_FALSE(first_copy(out + "/Trip_0042.CR2"));
  EXPECT_EQ(ctx.error, "can't open metadata template: \"" + out + "/Trip_0042.xmp\"");
  EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(PlacementTest, CopyOnlyModeHasNoImageData) {
  ctx.sidecar_template = template_path;
  write_file(card + "/IMG_0002.JPG", "jpeg bytes");
  // The metadata goes into the JPEG itself: no sidecar, no failure.
  ctx.xmp_to_jpg = true;
  ASSERT_TRUE(copy_only(card + "/IMG_0002.JPG", out + "/IMG_0002.JPG")) << ctx.error;
  EXPECT_FALSE(fs::exists(out + "/IMG_0002.xmp"));
  EXPECT_EQ(ctx.error, "");

  // Nothing known of the image to build its sidecar from: the copy stays, the run goes on,
  // and the report names the sidecar that is missing.
  ctx.xmp_to_jpg = false;
  EXPECT_TRUE(copy_only(card + "/IMG_0002.JPG", out + "/IMG_0002.JPG"));
  EXPECT_EQ(ctx.error, "");
  EXPECT_THAT(ctx.report,
              HasSubstr("WARNING: sidecar_copy has no access to per-image metadata: \"" + out +
                        "/IMG_0002.xmp\"\n"));
  EXPECT_FALSE(fs::exists(out + "/IMG_0002.xmp"));

  // A backup copy that already has its sidecar is fine either way.
  ctx.error.clear();
  write_file(out + "/IMG_0002.xmp", "made by the first copy");
  EXPECT_TRUE(copy_only(card + "/IMG_0002.JPG", out + "/IMG_0002.JPG")) << ctx.error;
  EXPECT_EQ(read_file(out + "/IMG_0002.xmp"), "made by the first copy");
}

TEST_F(PlacementTest, TodaysLongExtensionsTakeSidecarsNamedWithTheExtensionReplaced) {
  EXPECT_TRUE(takes_sidecar("a/IMG_1.HEIC"));
  EXPECT_TRUE(takes_sidecar("a/V.m2ts"));
  EXPECT_FALSE(takes_sidecar("a/IMG_1.JPEG"));
  EXPECT_FALSE(takes_sidecar("a.HEIC/IMG_1"));
  EXPECT_EQ(sidecar_beside("a/IMG_1.HEIC"), "a/IMG_1.xmp");
  EXPECT_EQ(sidecar_beside("a/IMG_1.CR2"), "a/IMG_1.xmp");
  write_file(card + "/IMG_0005.HEIC", "heic");
  write_file(card + "/IMG_0005.XMP", "card's sidecar");
  EXPECT_EQ(existing_source_sidecar(card + "/IMG_0005.HEIC"), card + "/IMG_0005.XMP");
  // Found alike from the folder's listing: a name there that is no file is no sidecar.
  fs::create_directories(card + "/IMG_0007.xmp");
  CardSidecars listed;
  EXPECT_EQ(listed.find(card + "/IMG_0005.HEIC"), card + "/IMG_0005.XMP");
  EXPECT_EQ(listed.find(card + "/IMG_0007.HEIC"), std::nullopt);
  EXPECT_EQ(listed.find(dir / "gone/IMG_0005.HEIC"), std::nullopt);

  // A HEIC and its JPEG share one sidecar as a raw and its JPEG do: built for the first,
  // found in place by the second, kept when the JPEG takes its XMP.
  ctx.sidecar_template = template_path;
  write_file(card + "/IMG_0006.HEIC", "heic");
  write_file(card + "/IMG_0006.JPG", "jpeg");
  write_file(out + "/Trip.HEIC", "heic");
  ASSERT_TRUE(create_sidecar(ctx, card + "/IMG_0006.HEIC", &base, &date, &number, true,
                             out + "/Trip.HEIC"))
      << ctx.error;
  const std::string built = read_file(out + "/Trip.xmp");
  EXPECT_NE(built.find("<dc:identifier>IMG_0001-0042-"), std::string::npos) << built;
  const std::string jpeg_base = "IMG_0006";
  ASSERT_TRUE(create_sidecar(ctx, card + "/IMG_0006.JPG", &jpeg_base, &date, &number, true,
                             out + "/Trip.JPG"))
      << ctx.error;
  EXPECT_EQ(read_file(out + "/Trip.xmp"), built);
  EXPECT_TRUE(shares_sidecar(out + "/Trip.JPG"));

  // A clip whose companion has its stem: the companion goes beside the copy under the copy's
  // name, the clip's sidecar beside both; the companion gets none.
  write_file(card + "/C0001.MP4", "clip");
  write_file(card + "/C0001.XML", "<clip meta/>");
  ASSERT_TRUE(create_sidecar(ctx, card + "/C0001.MP4", &base, &date, &number, true,
                             out + "/Holiday.MP4"))
      << ctx.error;
  EXPECT_EQ(read_file(out + "/Holiday.XML"), "<clip meta/>");
  EXPECT_NE(read_file(out + "/Holiday.xmp").find("<dc:identifier>"), std::string::npos);
  EXPECT_EQ(companion_beside(out + "/Holiday.MP4", "M01.XML"), out + "/HolidayM01.XML");
  EXPECT_EQ(companion_stem("C0001M01.XML"), "C0001");
  EXPECT_EQ(companion_stem("C0001.XMP"), std::nullopt);
}

TEST(TemplateLookup, NamesAreFoundInTheProgramFolder) {
  EXPECT_EQ(metadata_template_path("/home/me/t.xmp"), "/home/me/t.xmp");
  EXPECT_EQ(metadata_template_path("./t"), "./t");
  const std::string installed = metadata_template_path("Cardwright-IPTC.3.4");
  EXPECT_TRUE(installed.ends_with("/Cardwright-IPTC.3.4.xmp"));
  EXPECT_TRUE(fs::is_regular_file(installed)) << installed;
  EXPECT_EQ(metadata_template_path("Cardwright-IPTC.3.4.xmp"), installed);
}

}  // namespace
}  // namespace cw
