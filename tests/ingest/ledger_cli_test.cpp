// The ledger through the built program: killed runs completed, stations sharing a catalogue,
// manifests checked by the standard tool and by `cardwright verify`, and --reverify.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <tuple>

#include "tests/database/pg_server.h"
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
  // What `cardwright ARGS` prints at the station `env`; it must succeed.
  std::string ok(const std::string& args, const std::string& env = "") {
    std::string out;
    EXPECT_EQ(test::run_cardwright(args, &out, "", env), 0) << args << "\n" << out;
    return out;
  }
  // The ingestion record that --json output names; "" when it names none.
  static std::string ingestion_id(const std::string& out) {
    const std::size_t at = out.find("\"ingestion_id\": ");
    return at == std::string::npos ? "" : std::to_string(std::stoi(out.substr(at + 16)));
  }
  // Checks every manifest below `root` with `xxhsum -c`; the number of files they list.
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
  // The backup holds the card's images; the primary tree its six JPEGs and the raw's DNG, each
  // once.
  void expect_every_image_once_in_each_tree() const {
    EXPECT_EQ(image_contents(backup), image_contents(card));
    const auto primary = image_contents(archive);
    EXPECT_EQ(primary.size(), 7u);
    for (const auto& [bytes, n] : primary) EXPECT_EQ(n, 1);
    EXPECT_TRUE(fsys::exists(archive + "/B/B_0007.dng"));
    for (const auto& [path, bytes] : files_below(card))
      EXPECT_TRUE(!path.ends_with(".JPG") || primary.count(bytes)) << path;
  }
};

// The same, with the catalogue (which CARDWRIGHT_CATALOGUE gives every command the tests run)
// in a file or on the private server, shared by every station.
struct LedgerCliStores : LedgerCli, ::testing::WithParamInterface<test::Store> {
  void SetUp() override {
    if (GetParam() == test::Store::kFile) {
      ::setenv(kCatalogue, (dir / "shared.sqlite3").c_str(), 1);
      return;
    }
    std::string why;
    server = test::PrivateServer::get(why);
    if (!server) GTEST_SKIP() << "no private PostgreSQL server: " << why;
    url = server->new_database(why);
    ASSERT_FALSE(url.empty()) << why;
    ::setenv(kCatalogue, url.c_str(), 1);
  }
  void TearDown() override { ::unsetenv(kCatalogue); }
  // The environment of the station whose home is `name` below the test's folder.
  std::string station(const std::string& name) const {
    const std::string h = dir / name;
    return "HOME=" + sh_quote(h) + " XDG_DATA_HOME=" + sh_quote(h) + " XDG_CONFIG_HOME=" +
           sh_quote(h);
  }
  // The ingest command of the card into the primary and backup trees through the converter.
  std::string ingest_command() const {
    return sh_quote(test::built_program("app/cardwright")) + " ingest --card " + sh_quote(card) +
           " --primary " + sh_quote(archive) + " --backup " + sh_quote(backup) + " --converter " +
           sh_quote(fixtures::fake_dng_converter_path()) +
           " --no-jpeg-verify --name-format '{@filename}' --folder-format '{@filename,1,1}'";
  }
  // Runs the ingestion in a session of its own, the converter taking `delay` seconds over
  // folder B's raw; once folder A's six JPEGs are in the primary tree, runs the shell command
  // `then` ($! is the session). The run's exit status; its output goes to `out_file`.
  std::string run_until_converting(const std::string& then, const std::string& out_file,
                                   int delay) {
    std::string status;
    test::run_command("FAKE_DNG_DELAY=" + std::to_string(delay) + " setsid " + ingest_command() +
                          " >" + sh_quote(out_file) + " 2>&1 </dev/null & for i in $(seq 200); "
                          "do [ $(ls " + sh_quote(archive + "/A") + " 2>/dev/null | grep -c "
                          "'JPG$') = 6 ] && break; sleep 0.05; done; sleep 0.3; " + then +
                          "; wait $!; echo $?",
                      &status);
    return status;
  }
  static constexpr const char* kCatalogue = "CARDWRIGHT_CATALOGUE";
  test::PrivateServer* server = nullptr;
  std::string url;
};

INSTANTIATE_TEST_SUITE_P(Stores, LedgerCliStores,
                         ::testing::Values(test::Store::kFile, test::Store::kServer),
                         test::store_name);

// Killed with its converter (the whole session) while folder A's primary copies may not be
// recorded yet, a run is completed by the next, its manifests listing every file. Nothing it
// left blocks another station that ingests meanwhile.
TEST_P(LedgerCliStores, KilledRunIsCompletedByTheNext) {
  if (!test::have_program("setsid") || !test::have_program("pkill"))
    GTEST_SKIP() << "setsid or pkill not installed";
  write_card(6, 1);
  fsys::create_directories(backup);
  const auto before = files_below(card);
  ASSERT_EQ(run_until_converting("pkill -KILL -s $!", dir / "killed", 30), "137\n");
  ASSERT_FALSE(fsys::exists(archive + "/B/B_0007.dng"));

  test::write_file(dir / "card-b/DCIM/100CAM/C_0001.JPG",
                   fixtures::make_jpeg("2024:06:01 09:00:00", 900, 77));
  std::string out = ok("ingest --json --no-backup --no-jpeg-verify --card " +
                           sh_quote(dir / "card-b") + " --primary " + sh_quote(dir / "archive-b") +
                           " --folder-format ''",
                       station("b"));
  const std::string other_id = ingestion_id(out);
  ASSERT_FALSE(other_id.empty()) << out;

  const std::string ingest = ingest_command();
  ASSERT_EQ(test::run_command(ingest + " --json 2>" + sh_quote(dir / "report"), &out), 0) << out;
  EXPECT_TRUE(contains(out, "\"completed_from_earlier_run\": 1")) << out;
  // The record counts the image whose copy the run completed, though none came from the card.
  const std::string id = ingestion_id(out);
  ASSERT_FALSE(id.empty()) << out;
  std::string records;
  ASSERT_EQ(test::run_cardwright("db ingestions", &records, dir / "stderr", station("b")), 0);
  const std::size_t row = records.find("\n" + id + "\t");
  ASSERT_NE(row, std::string::npos) << records;
  EXPECT_TRUE(contains(records, "\n" + other_id + "\t")) << records;
  std::vector<std::string> cells;
  std::istringstream line(records.substr(row + 1, records.find('\n', row + 1) - row - 1));
  for (std::string cell; std::getline(line, cell, '\t');) cells.push_back(cell);
  ASSERT_GE(cells.size(), 8u) << records;
  EXPECT_EQ(cells[7], "1") << records;  // Images
  EXPECT_TRUE(contains(out, "\"safe_to_format\": true, \"verdict\": \"Card safe to format: all 7 "
                            "images have verified copies in 2 trees\""))
      << out;
  expect_every_image_once_in_each_tree();
  EXPECT_EQ(files_below(card), before);
  if (!test::have_program("xxhsum")) GTEST_SKIP() << "xxhsum not installed (Debian: xxhash)";
  EXPECT_EQ(check_manifests(archive), 7);
  EXPECT_EQ(check_manifests(backup), 7);
}

// The server stops while the run converts: the run ends naming the server (never its password)
// and keeping its copies; the next run, the server back, completes it without copying twice.
TEST_P(LedgerCliStores, ServerLostMidRunStopsItAndTheNextRunCompletesIt) {
  if (!server) GTEST_SKIP() << "only a server can be lost";
  write_card(6, 1);
  fsys::create_directories(backup);
  ASSERT_NE(run_until_converting(server->stop_command(), dir / "lost", 4), "0\n");
  std::string why;
  ASSERT_TRUE(server->start_again(why)) << why;
  const std::string lost = test::read_file(dir / "lost");
  const std::string where = url.substr(url.find("://") + 3);
  const std::string named = std::string(test::PrivateServer::kUser) + where.substr(where.find('@'));
  EXPECT_FALSE(contains(lost, test::PrivateServer::kPassword)) << lost;
  EXPECT_TRUE(contains(lost, "Can't write the ingest ledger to the catalogue " + named +
                                 ". The copies made so far stay in place"))
      << lost;

  std::string out;
  ASSERT_EQ(test::run_command(ingest_command() + " --json 2>" + sh_quote(dir / "report"), &out), 0)
      << test::read_file(dir / "report");
  EXPECT_TRUE(contains(out, "\"safe_to_format\": true")) << out;
  expect_every_image_once_in_each_tree();
}

// Stations A and B mount the studio's share at different paths (the folder moved between the
// runs): B finds A's images in the archive by the ledger alone; not mapping "studio", it copies
// them again and says why.
TEST_P(LedgerCliStores, OneArchiveAtDifferentMountPointsIsOneArchive) {
  write_card(3, 0);
  const std::string a = dir / "mnt-a", b = dir / "mnt-b";
  const std::string ingest = "ingest --no-backup --no-jpeg-verify --folder-format '' --card " +
                             sh_quote(card) + " --primary ";
  ok("pref set ArchiveRoots " + sh_quote("studio=" + a), station("a"));
  ok(ingest + sh_quote(a + "/photos") + " --name-format '{@filename}'", station("a"));
  fsys::rename(a, b);
  std::string out;
  for (const char* roots : {"studio=", "other="}) {
    ok("pref set ArchiveRoots " + sh_quote(roots + b), station("b"));
    out = ok(ingest + sh_quote(b + "/photos") + " --name-format '{@sequence,-3}_{@filename}'",
             station("b"));
    const bool mapped = roots == std::string("studio=");
    EXPECT_TRUE(contains(out, mapped ? "Files already in the archive: 3"
                                     : "Files already in the archive: 0")) << out;
    EXPECT_TRUE(contains(out, "Card safe to format: all 3 images have verified copies")) << out;
    EXPECT_EQ(test::images_below(b), mapped ? 3u : 6u);
  }
  EXPECT_TRUE(contains(out, "Copies recorded below the archive root \"studio\" were not taken "
                            "as proof: this station does not map it (preference ArchiveRoots)."))
      << out;
  EXPECT_NE(test::run_cardwright("pref set ArchiveRoots 'studio=photos'", &out), 0);
  EXPECT_TRUE(contains(out, "the mount point of \"studio\" is not an absolute path")) << out;
}

// Without read-back the card is not called safe in --json. A file changed afterwards fails its
// manifest's check alone, with the standard tool and with `cardwright verify` by manifest and ID.
TEST_F(LedgerCli, ManifestOfAModifiedTreeFailsOnThatFileOnly) {
  write_card(3, 0);
  std::string out = ok("ingest --json --no-backup --no-verify-copies --card " + sh_quote(card) +
                       " --primary " + sh_quote(archive) +
                       " --name-format '{@filename}' --folder-format ''");
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
  ok("pref set ReverifyCopies 0");  // as a user who never set it (the preferences outlive tests)
  ok(ingest);
  // Plain, with the option, and with the preference set before the run.
  const std::tuple<const char*, const char*, int> runs[] = {
      {"", "", 0}, {" --reverify", "", 8}, {"", "pref set ReverifyCopies 1", 8}};
  for (const auto& [options, preference, read] : runs) {
    if (*preference) ok(preference);
    const std::string out = ok(ingest + options);
    EXPECT_TRUE(contains(out, "    Copies read back and matched by checksum: " +
                                  std::to_string(read) + "\n"))
        << options << preference << out;
  }
  std::string out;
  EXPECT_EQ(test::run_cardwright(ingest + " --reverify --no-verify-copies", &out), 2) << out;
}

}  // namespace
}  // namespace cw
