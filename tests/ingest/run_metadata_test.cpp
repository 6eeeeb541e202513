// Each run keeps its own metadata state; another run in the process reads the files anew.
#include "ingest/run_metadata.h"

#include <gtest/gtest.h>

#include <string>

#include "ingest/run_macro_environment.h"
#include "metadata/macro_exif.h"
#include "tests/common/test_env.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

using test::TempDir;
using test::write_file;

std::string develop_settings(const std::string& exposure) {
  return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
         " <rdf:Description rdf:about=\"\"\n"
         "    xmlns:crs=\"http://ns.adobe.com/camera-raw-settings/1.0/\"\n"
         "   crs:Exposure=\"" + exposure + "\">\n"
         " </rdf:Description>\n"
         "</x:xmpmeta>\n";
}

TEST(RunMetadata, TwoRunsShareNoCache) {
  TempDir dir;
  MemoryMacroEnvironment session;
  session.images_from_reader = true;
  const std::string image = dir / "IMG_0001.JPG";
  const std::string settings = dir / "Studio.xmp";
  write_file(image, fixtures::make_jpeg("2024:05:17 10:20:30"));
  write_file(settings, develop_settings("+0.50"));

  RunMetadata first(&session, nullptr, nullptr);
  std::string msg;
  EXPECT_EQ(exif_macro_value(first.environment(), "DateTimeOriginal", image), "20240517_102030");
  const std::optional<std::string> first_block = get_rdf_crs(first.sidecars(), settings, msg);
  ASSERT_TRUE(first_block) << msg;
  EXPECT_NE(first_block->find("crs:Exposure=\"+0.50\""), std::string::npos);

  // The files change between the runs: the second run reads them anew.
  write_file(image, fixtures::make_jpeg("2025:12:31 23:59:58"));
  write_file(settings, develop_settings("-1.00"));
  RunMetadata second(&session, nullptr, nullptr);
  EXPECT_EQ(exif_macro_value(second.environment(), "DateTimeOriginal", image), "20251231_235958");
  const std::optional<std::string> second_block = get_rdf_crs(second.sidecars(), settings, msg);
  ASSERT_TRUE(second_block) << msg;
  EXPECT_NE(second_block->find("crs:Exposure=\"-1.00\""), std::string::npos);

  // The first run keeps what it read, whatever the second one did.
  EXPECT_EQ(exif_macro_value(first.environment(), "DateTimeOriginal", image), "20240517_102030");
  EXPECT_EQ(get_rdf_crs(first.sidecars(), settings, msg), first_block);
}

// Naming reads an image's values and its ledger entry and sidecar ask for them soon after: the
// last thousand images remembered are all still there however many came before, and a large
// card's values are not all kept.
TEST(RunMetadata, RecentImagesStayRememberedAndOldOnesGo) {
  MemoryMacroEnvironment session;
  RunMacroEnvironment run(session);
  constexpr int kImages = 5000, kRecent = 1000;
  for (int i = 0; i < kImages; ++i)
    run.remember("IMG_" + std::to_string(i), ExifPairs{{"Model", std::to_string(i)}});
  for (int i = kImages - kRecent; i < kImages; ++i)
    ASSERT_TRUE(run.remembers("IMG_" + std::to_string(i))) << i;
  EXPECT_FALSE(run.remembers("IMG_0"));
  EXPECT_EQ(run.image_exif_value("IMG_4000", "Model"), "4000");
}

}  // namespace
}  // namespace cw
