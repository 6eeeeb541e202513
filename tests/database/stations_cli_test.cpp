// Stations sharing one catalogue, as people run them: each station with its own home, the
// catalogue a file both reach or a database on the private server.
#include <filesystem>

#include "tests/database/db_fixture.h"
#include "tests/fixtures/programs.h"

namespace cw {
namespace {

using test::sh_quote;
using test::Store;

class Stations : public ::testing::TestWithParam<Store> {
 protected:
  void SetUp() override {
    if (GetParam() == Store::kFile) {
      catalogue = home / "shared.sqlite3";
      return;
    }
    std::string why;
    test::PrivateServer* server = test::PrivateServer::get(why);
    if (!server) GTEST_SKIP() << "no private PostgreSQL server: " << why;
    catalogue = server->new_database(why);
    ASSERT_FALSE(catalogue.empty()) << why;
  }
  // Runs `cardwright ARGS --catalogue CATALOGUE` as station `station`; stdout and stderr.
  int run(const std::string& station, const std::string& args, std::string* out = nullptr) {
    const std::string h = home / station;
    std::filesystem::create_directories(h);
    return test::run_cardwright(args + " --catalogue " + sh_quote(catalogue), out, "",
                                "HOME=" + sh_quote(h) + " XDG_DATA_HOME=" + sh_quote(h) +
                                    " XDG_CONFIG_HOME=" + sh_quote(h + "/config"));
  }
  test::TempDir home;
  std::string catalogue;
};

INSTANTIATE_TEST_SUITE_P(Stores, Stations, ::testing::Values(Store::kFile, Store::kServer),
                         test::store_name);

// Station A mounts the studio's share at one path, station B at another (the folder moved
// between the runs stands for it): B finds every image A took already in the archive, by the
// ledger alone (it names its copies otherwise). Not mapping "studio", B copies them again and
// says why.
TEST_P(Stations, OneArchiveAtDifferentMountPointsIsOneArchive) {
  std::filesystem::create_directories(home / "card/DCIM/100TEST");
  for (char i : {'0', '1', '2'})
    test::write_file(home / "card/DCIM/100TEST/IMG_000" + std::string(1, i) + ".JPG",
                     std::string("\xff\xd8\xff\xe0") + i + "\xff\xd9");
  const std::string a = home / "mnt-a", b = home / "mnt-b";
  const std::string ingest = "ingest --no-backup --no-jpeg-verify --folder-format '' --card " +
                             sh_quote(home / "card") + " --primary ";
  std::string out;
  ASSERT_EQ(run("a", "pref set ArchiveRoots " + sh_quote("studio=" + a), &out), 0) << out;
  ASSERT_EQ(run("a", ingest + sh_quote(a + "/photos") + " --name-format '{@filename}'", &out), 0)
      << out;
  std::filesystem::rename(a, b);

  const std::string at_b =
      ingest + sh_quote(b + "/photos") + " --name-format '{@sequence,-3}_{@filename}'";
  for (const char* roots : {"studio=", "other="}) {
    ASSERT_EQ(run("b", "pref set ArchiveRoots " + sh_quote(roots + b), &out), 0) << out;
    ASSERT_EQ(run("b", at_b, &out), 0) << out;
    const bool mapped = roots == std::string("studio=");
    EXPECT_THAT(out, HasSubstr(mapped ? "Files already in the archive: 3"
                                      : "Files already in the archive: 0"));
    EXPECT_THAT(out, HasSubstr("Card safe to format: all 3 images have verified copies"));
    EXPECT_EQ(test::images_below(b), mapped ? 3u : 6u);
  }
  EXPECT_THAT(out, HasSubstr("Copies recorded below the archive root \"studio\" were not taken "
                             "as proof: this station does not map it (preference ArchiveRoots)."));
  EXPECT_NE(run("b", "pref set ArchiveRoots 'studio=photos'", &out), 0);
  EXPECT_THAT(out, HasSubstr("the mount point of \"studio\" is not an absolute path"));
}

}  // namespace
}  // namespace cw
