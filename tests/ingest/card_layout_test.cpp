// Cards of hybrid cameras: stills in DCIM, clips with companions in video folders beside it.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/sample_card.h"
#include "tests/fixtures/sample_files.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::contains;
using test::files_below;
using test::Harness;
using test::read_file;
using test::write_file;

// JPEGs and a HEIC in DCIM, an MP4 clip with its companion and an AVCHD stream, and the
// camera's housekeeping; dated from 2024-03-15 12:00:00 on, one second apart.
struct HybridCard {
  Harness h;
  const std::string dcim = h.card + "/DCIM";
  const std::string clips = h.card + "/PRIVATE/M4ROOT/CLIP";
  const std::time_t t = fixtures::exif_date_to_time("2024:03:15 12:00:00");

  HybridCard() {
    const std::pair<std::string, std::string> dated[] = {
        {dcim + "/100CANON/IMG_0001.JPG", "jpeg 1"},
        {dcim + "/100CANON/IMG_0002.JPG", "jpeg 2"},
        {dcim + "/100CANON/IMG_0003.HEIC", "heic"},
        {clips + "/C0001.MP4", "clip"},
        {h.card + "/PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", "stream"}};
    for (std::size_t i = 0; i < std::size(dated); ++i)
      EXPECT_TRUE(fixtures::write_with_time(dated[i].first, dated[i].second,
                                            t + static_cast<std::time_t>(i)));
    write_file(clips + "/C0001M01.XML", "<NonRealTimeMeta/>");
    for (const char* f : {"PRIVATE/M4ROOT/THMBNL/C0001T01.JPG", "PRIVATE/M4ROOT/MEDIAPRO.XML",
                          "PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", "PRIVATE/AVCHD/BDMV/INDEX.BDM"})
      write_file(h.card + "/" + f, f);
  }
  std::vector<std::string> folders() const {
    std::vector<std::string> out;
    for (const ImageRecord& r : h.ctx->images) out.push_back(r.relative_folder());
    return out;
  }
};

TEST(CardLayout, VideoFoldersBesideDcimAreTakenWithSidecarsAndCompanionsInEveryTree) {
  HybridCard c;
  Harness& h = c.h;
  const std::string template_path = h.dir / "template.xmp";
  write_file(template_path, fixtures::sample_xmp_packet("{@filename}"));
  h.set(kParamSidecarPath, template_path);
  h.set(kParamNameFormat, "{@datetime}_{@filename}");
  h.set(kParamFolderFormat, "{@sourcepath}");
  h.with_backup(true);
  const auto card = files_below(h.card);

  ASSERT_TRUE(h.run_as_slot(c.dcim)) << h.ctx->error << h.ctx->report;
  // Clip folders show by their own names; the companion and the housekeeping are no images.
  EXPECT_EQ(c.folders(),
            (std::vector<std::string>{"100CANON", "100CANON", "100CANON", "CLIP", "STREAM"}));
  // The ledger keeps a DCIM file's source below DCIM, a clip's below the card's root.
  std::set<std::string> sources;
  for (std::size_t i = 0; i < h.ctx->ledger.size(); ++i)
    sources.insert(h.ctx->ledger.at(i).source);
  EXPECT_TRUE(sources.count("PRIVATE/M4ROOT/CLIP/C0001.MP4") &&
              sources.count("100CANON/IMG_0001.JPG"))
      << ::testing::PrintToString(sources);
  EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
  EXPECT_EQ(h.ctx->verdict.images, 5);
  EXPECT_TRUE(contains(h.ctx->report,
                       "Files and folders the camera keeps beside its video clips (thumbnails, "
                       "clip information, playlists) left on the card: 4\n"));

  for (const char* tree : {"backup", "archive", "post"}) {
    const fsys::path root = h.dir.path() / tree;
    EXPECT_EQ(read_file(root / "CLIP/20240315_120003_C0001.MP4"), "clip") << tree;
    EXPECT_EQ(read_file(root / "CLIP/20240315_120003_C0001M01.XML"), "<NonRealTimeMeta/>")
        << tree;
    EXPECT_EQ(read_file(root / "STREAM/20240315_120004_00000.MTS"), "stream") << tree;
    // Sidecars for the HEIC and the videos as for the JPEGs; none for the companion.
    for (const char* sidecar :
         {"100CANON/20240315_120000_IMG_0001.xmp", "100CANON/20240315_120002_IMG_0003.xmp",
          "CLIP/20240315_120003_C0001.xmp", "STREAM/20240315_120004_00000.xmp"})
      EXPECT_TRUE(fsys::is_regular_file(root / sidecar)) << tree << " " << sidecar;
    EXPECT_TRUE(contains(read_file(root / "100CANON/20240315_120002_IMG_0003.xmp"),
                         ">IMG_0003</rdf:li>"));
    EXPECT_EQ(std::distance(fsys::directory_iterator(root / "CLIP"), fsys::directory_iterator()),
              3)
        << tree;
  }
  EXPECT_EQ(files_below(h.card), card);

  // A companion lost from the archived copies is put back from the card by the next run.
  const std::string companion = "CLIP/20240315_120003_C0001M01.XML";
  for (const char* tree : {"backup", "archive", "post"})
    fsys::remove(h.dir.path() / tree / companion);
  ASSERT_TRUE(h.run_as_slot(c.dcim)) << h.ctx->error << h.ctx->report;
  for (const char* tree : {"backup", "archive", "post"})
    EXPECT_EQ(read_file(h.dir.path() / tree / companion), "<NonRealTimeMeta/>") << tree;
  EXPECT_EQ(h.ctx->counts.already_archived, 5);
  EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
}

TEST(CardLayout, ACardRootShowsItsFoldersWholeAndAnUntakenClipKeepsTheCardUnsafe) {
  HybridCard c;
  Harness& h = c.h;
  // From the card root the walk reaches PRIVATE itself: only the clip folders are taken.
  ASSERT_TRUE(h.run_as_slot(h.card)) << h.ctx->error;
  EXPECT_EQ(c.folders(), (std::vector<std::string>{"DCIM/100CANON", "DCIM/100CANON",
                                                   "DCIM/100CANON", "PRIVATE/M4ROOT/CLIP",
                                                   "PRIVATE/AVCHD/BDMV/STREAM"}));
  EXPECT_TRUE(h.ctx->verdict.safe) << h.ctx->verdict.line;
  EXPECT_TRUE(fsys::exists(h.archive + "/C0001M01.XML"));

  // A clip the extension filter leaves, and with it its companion, are named below the card.
  fsys::remove_all(h.archive);
  h.set(kParamIncludeExtensions, "1");
  h.set(kParamExtensions, "JPG HEIC MTS");
  ASSERT_TRUE(h.run_as_slot(c.dcim)) << h.ctx->error;
  EXPECT_EQ(h.ctx->verdict.images, 4);
  EXPECT_EQ(h.ctx->verdict.line,
            "Card not yet safe to format: 2 files left on the card by the extension filter "
            "(PRIVATE/M4ROOT/CLIP/C0001.MP4, PRIVATE/M4ROOT/CLIP/C0001M01.XML)");

  // A link where clips should be is not followed: named, and the card is not safe.
  h.set(kParamIncludeExtensions, "0");
  h.set(kParamExtensions, "");
  const std::string streams = h.card + "/PRIVATE/AVCHD/BDMV/STREAM";
  fsys::rename(streams, h.dir / "streams");
  fsys::create_directory_symlink(h.dir / "streams", streams);
  ASSERT_TRUE(h.run_as_slot(c.dcim)) << h.ctx->error;
  EXPECT_EQ(h.ctx->verdict.line,
            "Card not yet safe to format: 1 file skipped by the scan (PRIVATE/AVCHD/BDMV/STREAM)");
}

}  // namespace
}  // namespace cw
