// Whole runs through the stand-in DNG converter with a pre-conversion backup, and what the
// first copies are checked and given: decoding, extracted previews, merged and placed sidecars.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "foundation/sysio.h"
#include "ingest/converter.h"
#include "tests/common/scoped_env.h"
#include "tests/fixtures/jpeg_maker.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_card.h"
#include "tests/fixtures/sample_files.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::Harness;
using fixtures::mtime_of;
using test::read_file;
using test::contains;
using test::paths_below;
using test::ScopedEnv;
using test::write_file;

struct Conversion : ::testing::Test {
  Harness h;
  const std::string &backup = h.backup, &post = h.post;
  std::string card_folder = h.card + "/DCIM/100CWTST";
  void SetUp() override {
    h.with_backup();
    h.set(kParamConverterPath, fixtures::fake_dng_converter_path());
    h.set(kParamWantJpegVerify, std::string("1"));
  }
  // `count` raw-like files RAW_0001.NEF ... in the card folder.
  void write_raws(int count) {
    const fixtures::CardSpec raws{
        .count = count, .raw_every = 1, .raw_extension = "NEF", .prefix = "RAW_", .camera = {}};
    ASSERT_EQ(fixtures::write_sample_card(h.card, raws).size(), static_cast<std::size_t>(count));
  }
};

TEST_F(Conversion, RawsBecomeDngsEverythingElseIsCopiedAndEachResultGetsAThirdCopy) {
  fixtures::CardSpec spec;
  spec.count = 6;  // JPEGs 1, 2, 4, 5; raws 3 and 6
  ASSERT_EQ(fixtures::write_sample_card(h.card, spec).size(), 6u);
  write_file(card_folder + "/NOTES", "a raw-sounding file without extension is copied");
  h.with_backup(true);
  h.set(kParamPreview, std::string("-p1"));
  h.set(kParamEmbed, std::string("-e"));
  h.set(kParamConverterParams, std::string("-c  -fl"));
  h.set(kParamExtractJPG, std::string("1"));
  // Sidecars already beside results in the primary tree travel with them; an old one in the
  // post-conversion tree is replaced.
  write_file(h.archive + "/IMG_0001.xmp", "<x:xmpmeta>jpeg one</x:xmpmeta>");
  write_file(h.archive + "/IMG_0003.xmp", "<x:xmpmeta>raw three</x:xmpmeta>");
  write_file(post + "/IMG_0003.xmp", "stale");
  ASSERT_TRUE(h.run()) << h.ctx->error << h.ctx->report;

  std::vector<std::string> card_names = {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.CR2",
                                               "IMG_0004.JPG", "IMG_0005.JPG", "IMG_0006.CR2",
                                               "NOTES"};
  EXPECT_EQ(paths_below(backup), card_names);
  const std::vector<std::string> results = {"IMG_0001.JPG", "IMG_0001.xmp", "IMG_0002.JPG",
                                            "IMG_0003.dng", "IMG_0003.xmp", "IMG_0004.JPG",
                                            "IMG_0005.JPG", "IMG_0006.dng", "NOTES"};
  // Only the raws have previews; the JPEGs give none.
  std::vector<std::string> primary = results;
  primary.insert(primary.end() - 1, {"JPEG/IMG_0003.jpg", "JPEG/IMG_0006.jpg"});
  EXPECT_EQ(paths_below(h.archive), primary);
  EXPECT_EQ(paths_below(post), results);
  EXPECT_EQ(h.ctx->counts.jpegs_extracted, 2);
  for (const std::string& name : card_names) {
    if (name.ends_with(".CR2")) continue;
    EXPECT_EQ(read_file(h.archive + "/" + name), read_file(card_folder + "/" + name)) << name;
    EXPECT_EQ(read_file(post + "/" + name), read_file(card_folder + "/" + name)) << name;
  }
  for (const char* raw : {"IMG_0003", "IMG_0006"}) {
    std::string dng = h.archive + "/" + raw + ".dng";
    EXPECT_TRUE(contains(read_file(dng), std::string("DNG of ") + raw + ".CR2; options: -c -fl -p1 -e"));
    EXPECT_TRUE(contains(read_file(dng), read_file(backup + "/" + raw + ".CR2")));  // embedded
    EXPECT_EQ(mtime_of(dng), mtime_of(card_folder + "/" + raw + ".CR2")) << raw;
    EXPECT_EQ(read_file(post + "/" + raw + ".dng"), read_file(dng));
  }
  EXPECT_EQ(read_file(post + "/IMG_0003.xmp"), "<x:xmpmeta>raw three</x:xmpmeta>");
  for (const char* line : {"Running Adobe DNG Converter\n\n", "    Raws converted to DNGs: 2\n",
                           "    Files copied without conversion: 5\n", "    Raws verified: 2\n",
                           "    JPEGs verified: 4\n",
                           "    Files copied without error but not checked by decoding: 1\n"})
    EXPECT_TRUE(contains(h.ctx->report, line)) << line;
  EXPECT_EQ(h.control.burn_folders(BurnList::kPrimary), std::vector<std::string>{h.archive});

  // The same card again: every file is a duplicate, NOTES too though it has no capture time.
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_EQ(h.ctx->counts.duplicates, 7);
  EXPECT_EQ(h.ctx->counts.files_found, 0);
  EXPECT_EQ(h.ctx->counts.raws_converted, 0);
  EXPECT_EQ(paths_below(backup), card_names);
  EXPECT_EQ(paths_below(h.archive), primary);
}

TEST_F(Conversion, VerifyOnlyCopiesRawsUnchangedAndRemovesTheTemporaryFolder) {
  fixtures::CardSpec spec;
  spec.count = 4;
  spec.raw_every = 2;
  spec.raw_extension = "NEF";
  ASSERT_EQ(fixtures::write_sample_card(h.card, spec).size(), 4u);
  h.set(kParamVerifyOnly, std::string("verifyOnly"));
  ASSERT_TRUE(h.run()) << h.ctx->error << h.ctx->report;
  EXPECT_EQ(paths_below(h.archive),
            (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.NEF", "IMG_0003.JPG", "IMG_0004.NEF"}));
  for (const std::string& name : paths_below(h.archive))
    EXPECT_EQ(read_file(h.archive + "/" + name), read_file(card_folder + "/" + name)) << name;
  for (const char* line : {"Running Adobe DNG Converter for verification only\n",
                           "    Raws converted to DNGs: 0\n", "    Raws verified: 2\n",
                           "    Files copied without conversion: 4\n"})
    EXPECT_TRUE(contains(h.ctx->report, line)) << line;

  // A raw the converter rejects counts as corrupt; the run ends after the whole report.
  ScopedEnv bad("FAKE_DNG_UNSUPPORTED", "IMG_0002.NEF");
  fsys::remove_all(backup);
  fsys::remove_all(h.archive);
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "One or more image files were corrupt.");
  EXPECT_TRUE(contains(h.ctx->report, "Not a supported raw file: \"" + backup + "/IMG_0002.NEF\""));
  EXPECT_TRUE(contains(h.ctx->report, "    Raws verified: 1\n    Raws corrupt: 1\n"));
  EXPECT_EQ(paths_below(h.archive).size(), 4u);  // still copied: verification does not filter
}

TEST_F(Conversion, ConverterRunsHold100FilesInCommandLinesOf50AndRestartAfterABadFile) {
  write_raws(230);
  std::string log = h.dir / "converter.log";
  ScopedEnv log_env("FAKE_DNG_LOG", log);
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_EQ(h.ctx->counts.raws_converted, 230);
  EXPECT_EQ(paths_below(h.archive).size(), 230u);
  EXPECT_TRUE(fsys::exists(h.archive + "/RAW_0230.dng"));

  // The 40th file is bad: the first run starts again with files 41 to 100; the second and
  // third runs are untouched (so runs are cut at 100 files, before any restart). One line per
  // command line; argc counts the program, "-p0", "-d" and the output folder.
  fsys::remove_all(backup);
  fsys::remove_all(h.archive);
  fsys::remove(log);
  ScopedEnv bad("FAKE_DNG_BAD", "RAW_0040.NEF");
  EXPECT_FALSE(h.run());
  EXPECT_EQ(read_file(log), "files=50 argc=54\nfiles=50 argc=54\nfiles=10 argc=14\n"
                            "files=50 argc=54\nfiles=50 argc=54\nfiles=30 argc=34\n");
  EXPECT_EQ(h.ctx->counts.raws_corrupt, 1);
  EXPECT_EQ(h.ctx->counts.raws_converted, 229);
  EXPECT_FALSE(fsys::exists(h.archive + "/RAW_0040.dng"));
  EXPECT_TRUE(fsys::exists(h.archive + "/RAW_0041.dng"));
  EXPECT_TRUE(fsys::exists(backup + "/RAW_0040.NEF"));
  EXPECT_EQ(h.ctx->error, "One or more image files were corrupt.");
  EXPECT_TRUE(contains(h.ctx->report, "Error while converting file: \"" + backup + "/RAW_0040.NEF\""));

  // A DNG the converter failed to write without a word is named in the report, and the run
  // does not count as successful: the primary tree lacks that image.
  fsys::remove_all(backup);
  fsys::remove_all(h.archive);
  ScopedEnv no_bad("FAKE_DNG_BAD", "");
  ScopedEnv skip("FAKE_DNG_SKIP", "RAW_0007.NEF");
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "One or more images lack a copy in a tree.");
  EXPECT_FALSE(fsys::exists(h.archive + "/RAW_0007.dng"));
  EXPECT_TRUE(contains(h.ctx->report, "\nWARNING: Converted file \"" + h.archive +
                                          "/RAW_0007.dng\" does not exist, probably because of "
                                          "conversion error.\n"));
  EXPECT_TRUE(contains(h.ctx->report,
                       "ERROR: no copy in the primary tree: \"" + card_folder + "/RAW_0007.NEF\""));
  EXPECT_EQ(h.ctx->first_error,
            "no copy in the primary tree: \"" + card_folder + "/RAW_0007.NEF\"");
}

TEST_F(Conversion, ConverterFailuresThatCannotRestartEndTheRun) {
  write_raws(3);
  {
    ScopedEnv fail("FAKE_DNG_FAIL", "license expired");
    EXPECT_FALSE(h.run());
    EXPECT_EQ(h.ctx->error, "DNG Converter error");
    EXPECT_EQ(h.ctx->first_error, "DNG Converter error: license expired");
    EXPECT_TRUE(contains(h.ctx->report, "\nERROR: license expired\n"));
  }
  fsys::remove_all(backup);
  {
    // A bad file the run never handed over cannot be skipped: the run fails visibly (error
    // recorded) instead of ending quietly with the primary tree half filled.
    const std::string stranger = "Error while converting file: \"/elsewhere/RAW_0009.NEF\"";
    ScopedEnv fail("FAKE_DNG_FAIL", stranger);
    EXPECT_FALSE(h.run());
    EXPECT_EQ(h.ctx->error, "DNG Converter error");
    EXPECT_TRUE(contains(h.ctx->report, stranger));
  }
  fsys::remove_all(backup);
  h.set(kParamConverterPath, h.dir / "no-such-converter");
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "can't execute DNG Converter");
  EXPECT_TRUE(fsys::exists(backup + "/RAW_0001.NEF"));  // first copies stay
}

TEST(ExtractJpeg, RawPreviewIsSavedWithTheRawsExifAndTheSidecarsXmp) {
  Harness h;
  h.set(kParamExtractJPG, std::string("1"));
  fixtures::CardSpec spec;
  spec.count = 6;  // raws IMG_0003.CR2 and IMG_0006.CR2
  spec.camera.model = "Extract Model";
  ASSERT_EQ(fixtures::write_sample_card(h.card, spec).size(), 6u);
  const std::string packet = fixtures::sample_xmp_packet("raw three");
  write_file(h.archive + "/IMG_0003.xmp", packet);
  write_file(h.archive + "/JPEG/IMG_0006.jpg", "someone's own file");
  // The failure is recorded and the run goes on; the slot's result is a failure.
  EXPECT_FALSE(h.run_as_slot());
  const std::string error =
      "Can't write extracted JPEG file: \"" + h.archive + "/JPEG/IMG_0006.jpg\"";
  EXPECT_EQ(h.ctx->error, error);
  EXPECT_NE(h.ctx->report.find("ERROR: " + error + "\n"), std::string::npos);
  EXPECT_EQ(h.ctx->counts.files_found, 6);
  EXPECT_EQ(h.ctx->counts.jpegs_extracted, 1);
  EXPECT_EQ(read_file(h.archive + "/JPEG/IMG_0006.jpg"), "someone's own file");
  const std::string jpeg = h.archive + "/JPEG/IMG_0003.jpg";
  const std::string bytes = read_file(jpeg);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8");
  EXPECT_TRUE(contains(bytes, packet));
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  const std::string raw = h.card + "/DCIM/100CWTST/IMG_0003.CR2";
  // One "Tag: value" line per tag asked for.
  const std::string exif = "-s -s -Make -Model -DateTimeOriginal -ExposureTime -FNumber -ISO";
  const std::string from_raw = test::exiftool(exif, raw);
  EXPECT_TRUE(contains(from_raw, "Model: Extract Model\n")) << from_raw;
  EXPECT_EQ(test::exiftool(exif, jpeg), from_raw);
  // The picture is the preview itself, and the sidecar's title is its XMP.
  EXPECT_EQ(test::exiftool("-s -s -Title -ImageWidth", jpeg),
            "Title: raw three\nImageWidth: 160\n");
}

// Asks for the stop once the converter has started: it logs its command line first.
struct StopOnceConverterStarts : SingleSlotControl {
  std::string log;
  bool stop_requested(int slot) override {
    return fsys::exists(log) || SingleSlotControl::stop_requested(slot);
  }
};

TEST_F(Conversion, StopRequestEndsTheConverter) {
  write_raws(2);
  StopOnceConverterStarts control;
  control.log = h.dir / "converter.log";
  h.reports_to = &control;
  ScopedEnv log_env("FAKE_DNG_LOG", control.log);
  ScopedEnv slow("FAKE_DNG_DELAY", "30");
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "Stopped");
  EXPECT_TRUE(paths_below(h.archive).empty());
  EXPECT_EQ(paths_below(backup).size(), 2u);
}

TEST(ConvertibleRaw, ExtensionsIgnoringCaseAndDngOnlyWhenAsked) {
  SingleSlotControl control;
  EngineContext ctx(EngineJob{&control, 0, "t"});
  for (const char* yes : {"a/IMG_1.CR2", "a/b.nef", "x.Rw2", "x.iiq", "x.TIF", "IMG_2.cr3"})
    EXPECT_TRUE(is_convertible_raw(ctx, yes)) << yes;
  for (const char* no : {"a/IMG_1.JPG", "a.b/RAWFILE", "x.CR", "x.tiff", "x.", "x.dng", "x.HEIC"})
    EXPECT_FALSE(is_convertible_raw(ctx, no)) << no;
  ctx.convert_dngs = true;
  EXPECT_TRUE(is_convertible_raw(ctx, "x.DNG"));
}

// A raw the raw decoder reads: a small DNG.
std::string sample_dng() {
  fixtures::RawLayout layout;
  layout.width = 64;
  layout.height = 48;
  layout.dng = true;
  return fixtures::build_raw_tiff(fixtures::CameraInfo{}, layout);
}

TEST(FirstCopyChecks, VerdictsAreCountedAndReportedInListOrderAfterTheCopies) {
  Harness h;
  h.set(kParamWantJpegVerify, std::string("1"));
  fixtures::JpegSpec spec;
  spec.width = 640;
  spec.height = 480;
  const std::string jpeg = fixtures::make_jpeg(spec), dng = sample_dng();
  spec.seed = 2;  // another picture: equal bytes would be one image taken twice
  const std::string other_jpeg = fixtures::make_jpeg(spec);
  const std::vector<std::pair<std::string, std::string>> card = {
      {"IMG_0001.JPG", jpeg},
      {"IMG_0002.JPG", "definitely not a JPEG"},
      {"IMG_0003.JPG", jpeg.substr(0, jpeg.size() / 2)},
      {"IMG_0004.DNG", dng},
      {"IMG_0005.DNG", dng.substr(0, dng.size() - 1000)},
      {"IMG_0006.CR2", "no raw the decoder knows"},
      {"IMG_0007.JPG", jpeg.substr(0, jpeg.size() * 3 / 4)},
      {"IMG_0008.JPG", other_jpeg}};
  for (const auto& [name, bytes] : card) write_file(h.card + "/" + name, bytes);
  const std::string ledger = h.dir / "ledger.sqlite3";
  EXPECT_FALSE(h.run_slot_with(ledger));
  const std::string& report = h.ctx->report;
  const std::string damaged = "\": Premature end of JPEG file\n";
  std::size_t at = 0;
  for (const std::string& line :
       {"Corrupt JPEG: \"" + h.archive + "/IMG_0002.JPG\"\n",
        "Damaged JPEG data: \"" + h.archive + "/IMG_0003.JPG" + damaged,
        "Corrupt raw: \"" + h.archive + "/IMG_0005.DNG\": unexpected end of the image data\n",
        "Damaged JPEG data: \"" + h.archive + "/IMG_0007.JPG" + damaged,
        std::string(" files copied from card took "),
        std::string("\nVerification:\n    Raws verified: 1\n    Raws corrupt: 1\n"
                    "    JPEGs verified: 2\n    JPEGs corrupt: 1\n"
                    "    JPEGs with damaged image data: 2\n"
                    "    Files copied without error but not checked by decoding: 1\n")}) {
    const std::size_t found = report.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << " missing after " << at << ":\n" << report;
    at = found + line.size();
  }
  EXPECT_FALSE(contains(report, "SUCCESSFUL INGESTION"));
  // The run's first error is the first bad file, not the run's closing message.
  EXPECT_EQ(h.ctx->first_error, "Corrupt JPEG: \"" + h.archive + "/IMG_0002.JPG\"");
  for (const auto& [name, bytes] : card) EXPECT_EQ(read_file(h.archive + "/" + name), bytes);

  // The damage keeps the card unsafe on every later run, with the same reasons, though its
  // files are archived already.
  const std::string verdict = h.ctx->verdict.line;
  EXPECT_TRUE(verdict.starts_with("Card not yet safe to format: 2 damaged JPEGs; 1 corrupt "
                                  "JPEG; 1 corrupt raw file"))
      << verdict;
  const auto archived = test::files_below(h.archive);
  for (int again = 0; again < 2; ++again) {
    EXPECT_FALSE(h.run_slot_with(ledger));
    EXPECT_EQ(h.ctx->counts.already_archived, 8);
    EXPECT_EQ(h.ctx->error, "One or more image files were corrupt.");
    EXPECT_EQ(h.ctx->verdict.line, verdict);
    EXPECT_TRUE(contains(h.ctx->report, "Corrupt raw: \"" + h.archive +
                                            "/IMG_0005.DNG\": unexpected end of the image data "
                                            "(found when it was first ingested)\n"))
        << h.ctx->report;
  }
  EXPECT_EQ(test::files_below(h.archive), archived);

  // Damaged image data alone is no success either, and says so.
  for (const char* name : {"IMG_0002.JPG", "IMG_0005.DNG"}) fsys::remove(h.card + "/" + name);
  fsys::remove_all(h.archive);
  EXPECT_FALSE(h.run());
  EXPECT_EQ(h.ctx->error, "One or more JPEG files have damaged image data.");
  EXPECT_FALSE(contains(h.ctx->report, "SUCCESSFUL INGESTION"));
}

TEST(FirstCopyJpeg, ARawKeepsTheSidecarItSharesWithItsJpeg) {
  Harness h;
  h.set(kParamWantXMPtoJPG, std::string("1"));
  const std::string template_path = h.dir / "creator.xmp";
  write_file(template_path,
             "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
             "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
             "<rdf:Description rdf:about=\"\"\n  xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
             "<dc:creator><rdf:Seq><rdf:li>Ann Example</rdf:li></rdf:Seq></dc:creator>\n"
             "</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n");
  h.set(kParamSidecarPath, template_path);
  // The raw comes first in the list for one pair and after the JPEG for the other. Every
  // file has its own bytes: equal ones would be one image taken twice.
  write_file(h.card + "/IMG_0001.CR2", fixtures::make_tiff_raw("2024:05:17 10:20:30", 600, 1));
  write_file(h.card + "/IMG_0002.RW2", fixtures::make_tiff_raw("2024:05:17 10:20:31", 600, 1));
  fixtures::JpegSpec spec;
  for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG"}) {
    write_file(h.card + "/" + name, fixtures::make_jpeg(spec));
    ++spec.seed;
  }
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_TRUE(fsys::exists(h.archive + "/IMG_0001.xmp"));
  EXPECT_TRUE(fsys::exists(h.archive + "/IMG_0002.xmp"));
  EXPECT_FALSE(fsys::exists(h.archive + "/IMG_0003.xmp"));  // merged into its lone JPEG
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  for (const char* name : {"IMG_0001.xmp", "IMG_0002.xmp", "IMG_0001.JPG", "IMG_0002.JPG",
                           "IMG_0003.JPG"})
    EXPECT_EQ(test::exiftool("-s -s -XMP-dc:Creator", h.archive + "/" + name),
              "Creator: Ann Example\n") << name;
}

// The sidecars are prepared ahead of the copying: each must still carry its own image's values,
// and a sidecar on the card or already in the archive is kept.
TEST(FirstCopySidecar, EachImageGetsItsOwnValues) {
  Harness h;
  const std::string template_path = h.dir / "values.xmp";
  write_file(template_path, "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">{@filename} "
                            "{@datetimeany,1,8}</x:xmpmeta>\n");
  h.set(kParamSidecarPath, template_path);
  fixtures::JpegSpec spec;
  for (int i = 1; i <= 9; ++i) {
    const std::string name = "IMG_000" + std::to_string(i);
    const std::string date = "2024:05:1" + std::to_string(i) + " 10:20:30";
    write_file(h.card + "/" + name + ".JPG", fixtures::make_jpeg(date, 2000, i));
  }
  write_file(h.card + "/IMG_0005.xmp", "the card's own\n");
  write_file(h.archive + "/IMG_0007.xmp", "the archive's own\n");
  ASSERT_TRUE(h.run()) << h.ctx->error;
  EXPECT_EQ(paths_below(h.archive).size(), 18u);  // no temporary file left beside them
  for (int i = 1; i <= 9; ++i) {
    const std::string name = "IMG_000" + std::to_string(i);
    const std::string sidecar = read_file(h.archive + "/" + name + ".xmp");
    EXPECT_TRUE(sidecar.starts_with(i == 5   ? "the card's own\n"
                                    : i == 7 ? "the archive's own\n"
                                             : "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">" + name +
                                                   " 2024051" + std::to_string(i) + "<"))
        << sidecar;
  }
}

// Fails the sidecar of IMG_0002 written into a file in `g_full_folder` (one without a name yet,
// or under a temporary name), as a full disk (whichever thread writes it, and when).
std::string g_full_folder;

ssize_t write_until_full(int fd, const void* buf, std::size_t count) {
  const std::string_view text(static_cast<const char*>(buf), count);
  if (test::fd_path(fd).starts_with(g_full_folder + "/") && text.starts_with("<x:xmpmeta") &&
      text.find(">IMG_0002<") != std::string_view::npos) {
    errno = ENOSPC;
    return -1;
  }
  return system_sysio().write(fd, buf, count);
}

// A sidecar that cannot be written stops the run, named, before the next image; the copies
// made so far stay, with no temporary file beside them.
TEST(FirstCopySidecar, AFailedSidecarStopsTheRunAndIsNamed) {
  Harness h;
  const std::string template_path = h.dir / "values.xmp";
  write_file(template_path, "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">{@filename}</x:xmpmeta>\n");
  h.set(kParamSidecarPath, template_path);
  for (int i = 1; i <= 5; ++i)
    write_file(h.card + "/IMG_000" + std::to_string(i) + ".JPG",
               fixtures::make_jpeg("2024:05:17 10:20:3" + std::to_string(i), 2000, i));
  g_full_folder = fsys::weakly_canonical(h.archive).string();
  {
    Sysio table = system_sysio();
    table.write = write_until_full;
    ScopedSysio faults(table);
    EXPECT_FALSE(h.run());
  }
  EXPECT_TRUE(contains(h.ctx->error, "error writing sidecar")) << h.ctx->error;
  EXPECT_TRUE(contains(h.ctx->error, "IMG_0002.xmp")) << h.ctx->error;
  EXPECT_TRUE(fsys::exists(h.archive + "/IMG_0001.xmp"));
  EXPECT_FALSE(fsys::exists(h.archive + "/IMG_0002.xmp"));
  for (const std::string& name : paths_below(h.archive)) EXPECT_FALSE(name.starts_with(".cw-"));
  EXPECT_LT(paths_below(h.archive).size(), 10u);  // the run did not go on to the end
}

}  // namespace
}  // namespace cw
