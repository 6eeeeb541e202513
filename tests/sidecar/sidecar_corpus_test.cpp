// A sidecar for a real camera file from the shipped template, read back by exiftool.
#include <gtest/gtest.h>

#include <filesystem>

#include "ingest/sidecar_placement.h"
#include "ingest/slot_control.h"
#include "metadata/macro_environment.h"
#include "metadata/sidecar.h"
#include "settings/preset_keys.h"
#include "tests/common/test_env.h"
#include "tests/sidecar/sidecar_fixtures.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using test::exif_tag;

TEST(SidecarCorpus, ShippedTemplateWithPresetsReadsBack) {
  CW_REQUIRE_CORPUS(corpus);
  if (!test::have_program("exiftool") || !test::have_program("xmllint"))
    GTEST_SKIP() << "exiftool or xmllint not installed";
  test::TempDir dir;
  fs::create_directories(dir / "card");
  fs::create_directories(dir / "out");
  const std::string source = dir / "card/IMG_0001.CR2";
  fs::copy_file(corpus / "camera" / "CanonRaw.cr2", source);
  test::write_file(dir / "Warm Portrait.lrtemplate", test::kDevelopPreset);

  MemoryMacroEnvironment env;
  using P = IptcPreset;
  env.set_iptc(P::Photographer, "Creator", PresetValue::of("Zoë Ångström & Søn <Studio>"));
  env.set_iptc(P::Photographer, "City", PresetValue::of("Malmö"));
  env.set_iptc(P::Photographer, "EMail", PresetValue::of("zoe@example.org"));
  env.set_iptc(P::Content, "Keywords", PresetValue::of("harbour; night market, café ;Zürich"));
  env.set_iptc(P::Content, "Headline", PresetValue::of("Boats <at> dusk"));
  env.set_iptc(P::Content, "DateCreated",
               PresetValue::of("{@datetimeany,1,4}-{@datetimeany,5,2}-{@datetimeany,7,2}"));
  env.set_iptc(P::Rights, "Copyright", PresetValue::of("© 2026 Zoë Ångström, all rights reserved"));
  env.set_iptc(P::Rights, "CopyrightStatus", PresetValue::of("True"));
  env.set_iptc(P::Rights, "RightsUsageTerms", PresetValue::of("Editorial use only"));

  SingleSlotControl control;
  EngineContext ctx(EngineJob{&control, 0, "corpus", {}});
  ctx.macro_env = &env;
  ctx.sidecar_template = metadata_template_path("Cardwright-IPTC.3.4");
  ctx.raw_settings_path = dir / "Warm Portrait.lrtemplate";
  const std::string base = "IMG_0001", date = "20260314_091502", number = "0042";
  bool ok = create_sidecar(ctx, source, &base, &date, &number, true,
                           dir / "out/Harbour_0042.CR2");
  ASSERT_TRUE(ok) << ctx.error;

  const std::string sidecar = dir / "out/Harbour_0042.xmp";
  const std::string text = test::read_file(sidecar);
  ASSERT_EQ(test::run_command("xmllint --noout '" + sidecar + "'"), 0) << text;
  EXPECT_EQ(text.find("{@"), std::string::npos) << "unexpanded macro left:\n" << text;

  EXPECT_EQ(exif_tag("XMP-dc:Creator", sidecar), "Zoë Ångström & Søn <Studio>");
  EXPECT_EQ(exif_tag("XMP-dc:Rights", sidecar), "© 2026 Zoë Ångström, all rights reserved");
  EXPECT_EQ(exif_tag("XMP-xmpRights:Marked", sidecar), "True");
  EXPECT_EQ(exif_tag("XMP-xmpRights:UsageTerms", sidecar), "Editorial use only");
  EXPECT_EQ(exif_tag("XMP-dc:Subject", sidecar), "harbour|night market|café|Zürich");
  EXPECT_EQ(exif_tag("XMP-photoshop:Headline", sidecar), "Boats <at> dusk");
  EXPECT_EQ(exif_tag("XMP-iptcCore:CreatorCity", sidecar), "Malmö");
  EXPECT_EQ(exif_tag("XMP-iptcCore:CreatorWorkEmail", sidecar), "zoe@example.org");
  // The dates come from the date text the copy hands in (no EXIF reader in this test).
  EXPECT_EQ(exif_tag("XMP-photoshop:DateCreated", sidecar), "2026:03:14 09:15:02");
  EXPECT_EQ(exif_tag("XMP-xmp:CreateDate", sidecar), "2026:03:14 09:15:02");
  EXPECT_EQ(exif_tag("XMP-xmp:MetadataDate", sidecar).size(), 19u);
  EXPECT_EQ(exif_tag("XMP-crs:Exposure2012", sidecar), "0.35");  // the develop settings ride along
}

// The zone a camera recorded with the original date goes into the creation date.
TEST(SidecarCorpus, CreationDateCarriesTheCameraZone) {
  CW_REQUIRE_CORPUS(corpus);
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  const std::string image = corpus / "camera" / "IMG_1361.dng";
  std::string taken = exif_tag("EXIF:DateTimeOriginal", image);
  const std::string zone = exif_tag("EXIF:OffsetTimeOriginal", image);
  ASSERT_EQ(taken.size(), 19u);
  ASSERT_FALSE(zone.empty());
  taken[4] = taken[7] = '-';
  taken[10] = 'T';

  MemoryMacroEnvironment env;
  env.images_from_reader = true;
  for (const auto& [key, text] : content_defaults())
    env.set_iptc(IptcPreset::Content, key, PresetValue::of(text));
  SidecarCache cache;
  std::string text, msg;
  ASSERT_TRUE(sidecar_text(metadata_template_path("Cardwright-IPTC.3.4"), "", "IMG_1361",
                           "20000101_000000", "1", image, env, cache, text, msg))
      << msg;
  EXPECT_NE(text.find("<photoshop:DateCreated>" + taken + zone + "</photoshop:DateCreated>"),
            std::string::npos)
      << text;
}

}  // namespace
}  // namespace cw
