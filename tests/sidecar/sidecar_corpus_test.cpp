// A real camera file's sidecar: the creation date carries the camera's zone.
#include <gtest/gtest.h>

#include "ingest/sidecar_placement.h"
#include "metadata/macro_environment.h"
#include "metadata/sidecar.h"
#include "settings/preset_keys.h"
#include "tests/common/test_env.h"
#include "tests/sidecar/sidecar_fixtures.h"

namespace cw {
namespace {

using test::exif_tag;

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
