// Sidecars from the shipped template as outside programs read them back.
#include <gtest/gtest.h>

#include "ingest/sidecar_placement.h"
#include "metadata/sidecar.h"
#include "settings/preset_keys.h"
#include "tests/common/test_env.h"
#include "tests/sidecar/sidecar_fixtures.h"

namespace cw {
namespace {

using test::exif_tag;
using P = IptcPreset;

struct Image {
  std::string name;
  ExifPairs exif;
};

// The path of `image`'s sidecar from the shipped template, the presets in `env` and `settings`.
std::string sidecar_for(const test::TempDir& dir, MemoryMacroEnvironment& env, const Image& image,
                        const std::string& settings = "") {
  const std::string path = dir / image.name;
  env.images[path] = image.exif;
  SidecarCache cache;
  std::string msg;
  bool wanted = false;
  const std::string out = path.substr(0, path.rfind('.')) + ".xmp";
  EXPECT_TRUE(sidecar_from_template(metadata_template_path("Cardwright-IPTC.3.4"), settings, out,
                                    "IMG_0001", "20240601_000000", "0001", path, env, cache,
                                    msg, wanted))
      << msg;
  return out;
}

TEST(SidecarReadBack, OnlyWhatIsSetWithTheCaptureTime) {
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  test::TempDir dir;
  // The presets as a new user has them: the content defaults (keyword and catalog-set lists
  // built from an empty vocabulary and no database), nothing else.
  MemoryMacroEnvironment env;
  for (const auto& [key, text] : content_defaults()) env.set_iptc(P::Content, key, PresetValue::of(text));
  const std::string bare =
      sidecar_for(dir, env, {"bare.CR2", {{"DateTimeOriginal", "2024:06:01 14:03:22"}}});

  env.set_iptc(P::Content, "Keywords", PresetValue::of("harbour; night market, café ;Zürich"));
  env.set_iptc(P::Content, "CatalogSets", PresetValue::of("Weddings|Smith"));
  env.set_iptc(P::Content, "Headline", PresetValue::of("Boats <at> dusk"));
  env.set_iptc(P::Photographer, "Creator", PresetValue::of("Zoë Ångström & Søn <Studio>"));
  env.set_iptc(P::Photographer, "City", PresetValue::of("Malmö"));
  env.set_iptc(P::Photographer, "EMail", PresetValue::of("zoe@example.org"));
  env.set_iptc(P::Rights, "Copyright", PresetValue::of("© 2024 Zoë Ångström, all rights reserved"));
  env.set_iptc(P::Rights, "RightsUsageTerms", PresetValue::of("Editorial use only"));
  test::write_file(dir / "Warm Portrait.lrtemplate", test::kDevelopPreset);
  const std::string full = sidecar_for(
      dir, env,
      {"full.CR2", {{"DateTimeOriginal", "2024:06:01 14:03:22"}, {"OffsetTimeOriginal", "+02:00"}}},
      dir / "Warm Portrait.lrtemplate");

  for (const std::string& file : {bare, full}) {
    if (test::have_program("xmllint")) {
      EXPECT_EQ(test::run_command("xmllint --noout '" + file + "'"), 0) << test::read_file(file);
    }
    EXPECT_EQ(test::read_file(file).find("{@"), std::string::npos) << "macro left in " << file;
    // Every field exiftool finds has a value: no "" as a value or a list item.
    const std::string json = test::exiftool("-j -G1 -struct", file);
    EXPECT_EQ(json.find("\"\""), std::string::npos) << json;
    EXPECT_EQ(json.find("Warning"), std::string::npos) << json;
  }

  EXPECT_EQ(exif_tag("XMP-dc:Subject", bare), "");
  EXPECT_EQ(exif_tag("XMP-lr:HierarchicalSubject", bare), "");
  EXPECT_EQ(exif_tag("XMP-xmpRights:Marked", bare), "");
  EXPECT_EQ(exif_tag("XMP-photoshop:DateCreated", bare), "2024:06:01 14:03:22");
  // Of the template's fields only the dates are left; its descriptions went with them.
  const std::string tags = test::exiftool("-s -G1 -XMP:all", bare);
  EXPECT_EQ(tags.find("XMP-dc"), std::string::npos) << tags;
  EXPECT_EQ(tags.find("XMP-iptcCore"), std::string::npos) << tags;

  EXPECT_EQ(exif_tag("XMP-dc:Subject", full), "harbour|night market|café|Zürich");
  EXPECT_EQ(exif_tag("XMP-lr:HierarchicalSubject", full), "Weddings|Smith");
  EXPECT_EQ(exif_tag("XMP-photoshop:Headline", full), "Boats <at> dusk");
  EXPECT_EQ(exif_tag("XMP-dc:Creator", full), "Zoë Ångström & Søn <Studio>");
  EXPECT_EQ(exif_tag("XMP-iptcCore:CreatorCity", full), "Malmö");
  EXPECT_EQ(exif_tag("XMP-iptcCore:CreatorWorkEmail", full), "zoe@example.org");
  EXPECT_EQ(exif_tag("XMP-dc:Rights", full), "© 2024 Zoë Ångström, all rights reserved");
  EXPECT_EQ(exif_tag("XMP-xmpRights:Marked", full), "True");  // completed from the notice
  EXPECT_EQ(exif_tag("XMP-xmpRights:UsageTerms", full), "Editorial use only");
  EXPECT_EQ(exif_tag("XMP-photoshop:DateCreated", full), "2024:06:01 14:03:22+02:00");
  EXPECT_EQ(exif_tag("XMP-xmp:CreateDate", full), "2024:06:01 14:03:22+02:00");
  EXPECT_EQ(exif_tag("XMP-xmp:MetadataDate", full).size(), 19u);
  EXPECT_EQ(exif_tag("XMP-crs:Exposure2012", full), "0.35");  // the develop settings

  // A second reader takes the capture time as the original date: a zoned one in the
  // reader's own zone, here the camera's.
  if (test::have_program("exiv2")) {
    std::string bare_out, full_out;
    test::run_command("exiv2 -pa '" + bare + "' 2>&1", &bare_out);
    test::run_command("TZ=UTC-2 exiv2 -pa '" + full + "' 2>&1", &full_out);
    for (const std::string* out : {&bare_out, &full_out})
      EXPECT_NE(out->find("DateTimeOriginal                  Ascii      20  2024:06:01 14:03:22"),
                std::string::npos)
          << *out;
    EXPECT_NE(full_out.find("2024-06-01T14:03:22+02:00\n"), std::string::npos) << full_out;
    EXPECT_EQ(bare_out.find("Xmp.xmpRights.Marked"), std::string::npos) << bare_out;
  }
}

}  // namespace
}  // namespace cw
