// The program run as a user runs it with a private catalogue server: made the station's
// catalogue, and two stations ingesting through it at once. (`cardwright db` on the station's
// own file, and a server that does not answer, are tried in tests/cli/usage.sh.)
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "tests/database/db_fixture.h"
#include "tests/fixtures/programs.h"

namespace cw {
namespace {

using test::raw_values;

class DbCommand : public ::testing::Test {
 protected:
  // Runs `cardwright db ARGS` with the data folder below `home`; stdout and stderr together.
  int db(const std::string& args, std::string* out = nullptr) { return run("db " + args, out); }
  // Runs `cardwright ARGS` as a station whose home, data and preference folders are below `home`.
  int run(const std::string& args, std::string* out = nullptr) {
    return test::run_cardwright(args, out, "", station_env(home.str()));
  }
  // The environment of a station at home `h`.
  static std::string station_env(const std::string& h) {
    return "HOME=" + test::sh_quote(h) + " XDG_DATA_HOME=" + test::sh_quote(h) +
           " XDG_CONFIG_HOME=" + test::sh_quote(h + "/config");
  }
  std::string file() const { return home / "CardwrightPro/cw_main.sqlite3"; }
  test::TempDir home;
};

// Later commands need no option, and the password comes from the password file.
TEST_F(DbCommand, InitMakesAServerTheStationsCatalogue) {
  std::string why;
  test::PrivateServer* server = test::PrivateServer::get(why);
  if (!server) GTEST_SKIP() << "no private PostgreSQL server: " << why;
  const std::string with_password = server->new_database(why);
  ASSERT_FALSE(with_password.empty()) << why;
  // The same database named without the password, which ~/.pgpass supplies.
  const std::string where = "cw@127.0.0.1:" + std::to_string(server->port()) +
                            with_password.substr(with_password.rfind('/'));
  test::write_file(home / ".pgpass", "127.0.0.1:" + std::to_string(server->port()) + ":*:cw:" +
                                         test::PrivateServer::kPassword + "\n");
  ASSERT_EQ(::chmod((home / ".pgpass").c_str(), 0600), 0);
  std::string out;
  ASSERT_EQ(run("init --catalogue postgresql://" + where, &out), 0) << out;
  EXPECT_EQ(out, "Catalogue      " + where + "\n");
  ASSERT_EQ(db("clients add Harbour", &out), 0) << out;
  EXPECT_EQ(raw_values(with_password, "select name from client order by client_sk"),
            "Client_001|Harbour");
  EXPECT_FALSE(std::filesystem::exists(file()));
}

// Two stations (two homes) take one card into one archive through one server at once.
TEST_F(DbCommand, TwoStationsTakingOneCardAtOnceCopyEachImageOnce) {
  std::string why;
  test::PrivateServer* server = test::PrivateServer::get(why);
  if (!server) GTEST_SKIP() << "no private PostgreSQL server: " << why;
  const std::string url = server->new_database(why);
  ASSERT_FALSE(url.empty()) << why;
  const std::string card = home / "card/DCIM/100TEST";
  for (char i : {'0', '1', '2'})
    test::write_file(card + "/IMG_000" + i + ".JPG", std::string("\xff\xd8\xff\xe0") + i + "\xff\xd9");
  const std::string archive = home / "archive";
  std::string both;
  for (const char* station : {"a", "b"}) {
    const std::string h = home / station;
    both += station_env(h) + " " + test::sh_quote(test::built_program("app/cardwright")) +
            " ingest --card " + test::sh_quote(home / "card") + " --primary " +
            test::sh_quote(archive) +
            " --no-backup --no-jpeg-verify --name-format '{@filename}' --folder-format '' "
            "--catalogue " + test::sh_quote(url) + " </dev/null >" +
            test::sh_quote(home / station) + ".out 2>&1 & " + station + "=$!; ";
  }
  ASSERT_EQ(test::run_command("mkdir -p " + test::sh_quote(home / "a") + " " +
                              test::sh_quote(home / "b") + "; " + both +
                              "wait $a && wait $b"),
            0);
  int copied = 0, already = 0;
  for (const char* station : {"a", "b"}) {
    const std::string out = test::read_file(home / station + std::string(".out"));
    SCOPED_TRACE(out);
    // "N files copied from card" and "Files already in the archive: N" of the report.
    const std::size_t tail = out.find(" files copied from card");
    ASSERT_NE(tail, std::string::npos);
    const std::size_t digits = out.find_last_not_of("0123456789", tail - 1) + 1;
    copied += std::atoi(out.c_str() + digits);
    const std::string label = "Files already in the archive: ";
    const std::size_t at = out.find(label);
    ASSERT_NE(at, std::string::npos);
    already += std::atoi(out.c_str() + at + label.size());
  }
  EXPECT_EQ(copied, 3);
  EXPECT_EQ(already, 3);
  EXPECT_EQ(test::images_below(archive), 3u);
  std::string listed;
  ASSERT_EQ(test::run_cardwright("db ingestions", &listed, "",
                                 station_env(home / "a") +
                                     " CARDWRIGHT_CATALOGUE=" + test::sh_quote(url)),
            0)
      << listed;
  EXPECT_THAT(listed, HasSubstr("2 records shown"));
}

}  // namespace
}  // namespace cw
