// The ledger through the built program: a run killed outright is completed by the next one,
// the verdict reaches --json, and the manifests every run writes are checked by the standard
// tool and by `cardwright verify`; copies of earlier runs are read again when they changed, or
// all of them with --reverify or its preference.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/database/db_fixture.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_card.h"
#include "tests/fixtures/sample_files.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

namespace fsys = std::filesystem;
using test::contains;
using test::files_below;
using test::image_contents;
using test::sh_quote;

struct LedgerCli : ::testing::Test {
  test::TempDir dir;
  std::string card = dir / "card", archive = dir / "archive", backup = dir / "backup";

  // Writes the card's JPEGs A_0001.JPG… and raws B_0001.CR2…, each with its own bytes.
  void write_card(int jpegs, int raws) {
    fsys::create_directories(card + "/DCIM/100CAM");
    for (int i = 1; i <= jpegs + raws; ++i) {
      const std::string date = fixtures::exif_date_plus("2024:05:17 10:20:30", i);
      const std::string name = (i <= jpegs ? "A_000" : "B_000") + std::to_string(i) +
                               (i <= jpegs ? ".JPG" : ".CR2");
      ASSERT_TRUE(fixtures::write_with_time(
          card + "/DCIM/100CAM/" + name,
          i <= jpegs ? fixtures::make_jpeg(date, 5000, i) : fixtures::make_tiff_raw(date, 5000, i),
          fixtures::exif_date_to_time(date)));
    }
  }
  // The ingestion record that --json output names; "" when it names none.
  static std::string ingestion_id(const std::string& out) {
    const std::size_t at = out.find("\"ingestion_id\": ");
    return at == std::string::npos ? "" : std::to_string(std::stoi(out.substr(at + 16)));
  }
  // Every manifest below `root` is accepted by `xxhsum -c` run from the root; the number
  // of files they list.
  static int check_manifests(const std::string& root) {
    int lines = 0;
    for (const auto& m : fsys::directory_iterator(root + "/Manifests")) {
      std::string out;
      EXPECT_EQ(test::run_command("cd " + sh_quote(root) + " && xxhsum -c " +
                                      sh_quote("Manifests/" + m.path().filename().string()) +
                                      " 2>&1",
                                  &out),
                0)
          << out;
      lines += static_cast<int>(std::count(out.begin(), out.end(), '\n'));
    }
    return lines;
  }
};

// Killed with its converter (the whole session) while the converter works on folder B, folder
// A's copies into the primary tree made but perhaps not yet recorded, a run with a backup is
// completed by the next: every tree complete, nothing copied twice, the report counts what it
// completed, the card untouched. The manifests of the second run list every file of their trees.
TEST_F(LedgerCli, KilledRunIsCompletedByTheNext) {
  if (!test::have_program("setsid") || !test::have_program("pkill"))
    GTEST_SKIP() << "setsid or pkill not installed";
  write_card(6, 1);
  fsys::create_directories(backup);
  const auto before = files_below(card);
  const std::string ingest =
      sh_quote(test::built_program("app/cardwright")) + " ingest --card " + sh_quote(card) +
      " --primary " + sh_quote(archive) + " --backup " + sh_quote(backup) + " --converter " +
      sh_quote(fixtures::fake_dng_converter_path()) +
      " --no-jpeg-verify --name-format '{@filename}' --folder-format '{@filename,1,1}'";
  std::string status;
  test::run_command("FAKE_DNG_DELAY=30 setsid " + ingest + " >/dev/null 2>&1 </dev/null & " +
                        "for i in $(seq 200); do [ $(ls " + sh_quote(archive + "/A") +
                        " 2>/dev/null | grep -c 'JPG$') = 6 ] && break; sleep 0.05; done; " +
                        "sleep 0.3; pkill -KILL -s $!; wait $!; echo $?",
                    &status);
  ASSERT_EQ(status, "137\n");
  ASSERT_FALSE(fsys::exists(archive + "/B/B_0007.dng"));

  std::string out;
  ASSERT_EQ(test::run_command(ingest + " --json 2>" + sh_quote(dir / "report"), &out), 0) << out;
  const std::string report = test::read_file(dir / "report");
  EXPECT_TRUE(contains(report, "        of them completed by this run: 1\n")) << report;
  EXPECT_TRUE(contains(out, "\"completed_from_earlier_run\": 1")) << out;
  // The record counts the image whose copy the run completed, though none came from the card.
  const std::string id = ingestion_id(out);
  ASSERT_FALSE(id.empty()) << out;
  const std::string db = test::test_root() / "home/.local/share/CardwrightPro/cw_main.sqlite3";
  EXPECT_EQ(test::raw_values(db, "select image_count from ingestion where ingestion_sk = " + id),
            "1");
  EXPECT_TRUE(contains(out, "\"safe_to_format\": true, \"verdict\": \"Card safe to format: all 7 "
                            "images have verified copies in 2 trees\""))
      << out;
  EXPECT_EQ(image_contents(backup), image_contents(card));
  // The primary tree: the six JPEGs and the raw's DNG, each once.
  int files = 0;
  for (const auto& [bytes, n] : image_contents(archive)) files += n;
  EXPECT_EQ(files, 7);
  for (const auto& [path, bytes] : before)
    if (path.ends_with(".JPG")) {
      EXPECT_EQ(image_contents(archive)[bytes], 1) << path;
    }
  EXPECT_TRUE(fsys::exists(archive + "/B/B_0007.dng"));
  EXPECT_EQ(files_below(card), before);
  if (!test::have_program("xxhsum")) GTEST_SKIP() << "xxhsum not installed (Debian: xxhash)";
  EXPECT_EQ(check_manifests(archive), 7);
  EXPECT_EQ(check_manifests(backup), 7);
}

// Without read-back the run succeeds but the card is not called safe, in the report and in
// --json. A file of the archive changed afterwards fails its manifest's check, alone, with
// the standard tool and with `cardwright verify` by manifest and by ingestion ID.
TEST_F(LedgerCli, ManifestOfAModifiedTreeFailsOnThatFileOnly) {
  write_card(3, 0);
  std::string out;
  ASSERT_EQ(test::run_cardwright("ingest --json --no-backup --no-verify-copies --card " +
                                     sh_quote(card) + " --primary " + sh_quote(archive) +
                                     " --name-format '{@filename}' --folder-format ''",
                                 &out, dir / "stderr"),
            0);
  EXPECT_TRUE(contains(out, "\"success\": true")) << out;
  EXPECT_TRUE(contains(out, "\"safe_to_format\": false, \"verdict\": \"Card not yet safe to "
                            "format: 3 of 3 images lack a verified copy in every tree"))
      << out;
  const std::string id = ingestion_id(out);
  ASSERT_FALSE(id.empty()) << out;
  ASSERT_EQ(std::distance(fsys::directory_iterator(archive + "/Manifests"), {}), 1);
  const std::string manifest = fsys::directory_iterator(archive + "/Manifests")->path().string();

  std::string changed = test::read_file(archive + "/A_0002.JPG");
  changed[changed.size() / 2] ^= 1;
  test::write_file(archive + "/A_0002.JPG", changed);
  for (const std::string& what : {manifest, id}) {
    EXPECT_EQ(test::run_cardwright("verify " + sh_quote(what), &out), 1) << what;
    EXPECT_TRUE(contains(out, "  A_0002.JPG: FAILED\n  2 OK, 1 FAILED, 0 MISSING, 0 malformed "
                              "lines\n"))
        << out;
  }
  // An ingestion ID too large for any record is no crash.
  EXPECT_EQ(test::run_cardwright("verify 99999999999999999999", &out), 1) << out;
  if (!test::have_program("xxhsum")) GTEST_SKIP() << "xxhsum not installed (Debian: xxhash)";
  EXPECT_EQ(test::run_command("cd " + sh_quote(archive) + " && xxhsum -c " + sh_quote(manifest) +
                                  " 2>&1",
                              &out),
            1);
  EXPECT_TRUE(contains(out, "A_0001.JPG: OK\nA_0002.JPG: FAILED\nA_0003.JPG: OK\n")) << out;
}

// Copies unchanged since they were proven are read again only with --reverify or with the
// preference ReverifyCopies on; --reverify needs read-backs.
TEST_F(LedgerCli, ReverifyReadsEveryEarlierCopy) {
  write_card(8, 0);
  const std::string ingest = "ingest --no-backup --card " + sh_quote(card) + " --primary " +
                             sh_quote(archive) + " --name-format '{@filename}' --folder-format ''";
  std::string out;
  ASSERT_EQ(test::run_cardwright(ingest, &out, dir / "stderr"), 0) << out;
  struct Case {
    std::string options;
    int read;
  };
  for (const Case& c : {Case{"", 0}, Case{" --reverify", 8}}) {
    ASSERT_EQ(test::run_cardwright(ingest + c.options, &out, dir / "stderr"), 0) << out;
    EXPECT_TRUE(contains(out, "    Copies read back and matched by checksum: " +
                                  std::to_string(c.read) + "\n"))
        << c.options << out;
    EXPECT_TRUE(contains(out, "    Files already in the archive: 8\n")) << out;
    EXPECT_TRUE(contains(out, "Card safe to format: all 8 images")) << out;
  }
  ASSERT_EQ(test::run_cardwright("pref set ReverifyCopies 1", &out), 0) << out;
  ASSERT_EQ(test::run_cardwright(ingest, &out, dir / "stderr"), 0) << out;
  EXPECT_TRUE(contains(out, "    Copies read back and matched by checksum: 8\n")) << out;
  EXPECT_EQ(test::run_cardwright(ingest + " --reverify --no-verify-copies", &out), 2) << out;
}

}  // namespace
}  // namespace cw
