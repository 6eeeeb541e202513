// The command-line program: exit codes, the report, JSON and the raw list of `copycard`.
#include <gtest/gtest.h>

#include "settings/param_list.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_card.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

using test::sh_quote;
using test::TempDir;
using test::write_file;

struct Cli : ::testing::Test {
  TempDir dir;
  std::string card = dir / "card", archive = dir / "archive";
  void SetUp() override {
    write_file(card + "/DCIM/100/IMG_0001.JPG", fixtures::make_jpeg("2024:05:17 10:20:30"));
    write_file(card + "/DCIM/100/IMG_0002.CR2", "two");
  }
  int run(const std::string& args, std::string* out = nullptr) {
    return test::run_cardwright(args, out, dir / "stderr");
  }
};

TEST_F(Cli, IngestPrintsTheReportAndExitsZero) {
  std::string out;
  const std::string keep_names = " --name-format '{@filename}' --folder-format ''";
  EXPECT_EQ(run("ingest --card " + sh_quote(card) + " --primary " + sh_quote(archive) +
                    keep_names + " --no-backup --include --extensions 'jpg' --no-jpeg-verify",
                &out),
            0);
  EXPECT_NE(out.find("SUCCESSFUL INGESTION - no errors detected"), std::string::npos) << out;
  // The report also goes to the per-user log.
  std::string log = test::read_file(test::test_root() / "home/.local/share/CardwrightPro/cw_log.txt");
  EXPECT_NE(log.find("SUCCESSFUL INGESTION"), std::string::npos);

  // Decoding is on by default; the JPG is a duplicate now and is not copied again.
  EXPECT_EQ(run("ingest --json --no-backup --card " + sh_quote(card) + " --primary " +
                    sh_quote(archive) + keep_names,
                &out),
            0);
  EXPECT_NE(out.find("\"success\": true"), std::string::npos) << out;
  EXPECT_NE(out.find("\"duplicates\": 1"), std::string::npos) << out;
  EXPECT_NE(out.find("\"files_found\": 1"), std::string::npos) << out;
}

TEST_F(Cli, ConverterOptionsReachTheConverter) {
  const std::string common = " --card " + sh_quote(card) + " --backup " + sh_quote(dir / "backup") +
                             " --primary " + sh_quote(archive) + " --converter " +
                             sh_quote(fixtures::fake_dng_converter_path()) +
                             " --no-jpeg-verify --name-format '{@filename}' --folder-format ''";
  // A missing backup folder is never created silently: the user has to provide it.
  std::filesystem::create_directories(dir / "backup");
  std::string out;
  EXPECT_EQ(run("ingest" + common + " --preview 2 --embed", &out), 0) << out;
  std::string dng = test::read_file(archive + "/IMG_0002.dng");
  EXPECT_NE(dng.find("DNG of IMG_0002.CR2; options: -p2 -e"), std::string::npos);

  std::filesystem::remove_all(dir / "backup");
  std::filesystem::remove_all(archive);
  std::filesystem::create_directories(dir / "backup");
  EXPECT_EQ(run("ingest" + common + " --verify-only --json", &out), 0) << out;
  EXPECT_NE(out.find("\"raws_verified\": 1"), std::string::npos) << out;
  EXPECT_EQ(test::read_file(archive + "/IMG_0002.CR2"), "two");  // copied, not converted
  EXPECT_EQ(run("ingest" + common + " --preview 3"), 2);
}

// SIGTERM and SIGHUP stop a run as Ctrl-C does. The slow converter logs its command line as it
// starts: the signal comes once that line is there, while it runs.
TEST_F(Cli, TermAndHangupStopTheRunAndTheRecordSaysSo) {
  const std::string database =
      test::test_root() / "home/.local/share/CardwrightPro/cw_main.sqlite3";
  const std::string backup = dir / "backup";
  const std::string log = dir / "converter.log";
  const std::string ingest =
      "FAKE_DNG_DELAY=30 FAKE_DNG_LOG=" + sh_quote(log) + " " +
      sh_quote(test::built_program("app/cardwright")) + " ingest --card " + sh_quote(card) +
      " --backup " + sh_quote(backup) + " --primary " + sh_quote(archive) + " --converter " +
      sh_quote(fixtures::fake_dng_converter_path()) +
      " --no-jpeg-verify --name-format '{@filename}' --folder-format '' >/dev/null 2>&1 </dev/null";
  for (const char* signal : {"TERM", "HUP"}) {
    std::filesystem::remove_all(archive);
    std::filesystem::remove_all(backup);
    std::filesystem::remove(log);
    std::filesystem::create_directories(backup);
    std::string status, result;
    test::run_command(ingest + " & for i in $(seq 300); do [ -s " + sh_quote(log) +
                          " ] && break; sleep 0.1; done; kill -" + signal + " $!; wait $!; echo $?",
                      &status);
    EXPECT_NE(test::read_file(log).find("files=1 "), std::string::npos) << signal;  // it started
    EXPECT_EQ(status, "1\n") << signal;
    test::run_command("sqlite3 " + sh_quote(database) +
                          " 'select result from ingestion order by ingestion_sk desc limit 1'",
                      &result);
    EXPECT_NE(result.find("Stopped by user"), std::string::npos) << signal << ": " << result;
  }
}

TEST_F(Cli, CopycardTakesTheRawList) {
  ParamList p = default_param_list();
  p.values[kParamCardFolder] = card;
  p.values[kParamPrimaryFolder] = archive;
  p.values[kParamNameFormat] = "{@filename}";
  p.values[kParamFolderFormat].clear();
  p.values[kParamFileArray] = dir / "picked.txt";
  p.values[kParamFileArray].insert(0, 1, '@');
  write_file(dir / "picked.txt", card + "/DCIM/100/IMG_0002.CR2\n");
  std::string args = "copycard";
  for (int i = 1; i < kParamCount; ++i) args.append(" ").append(sh_quote(p.values[std::size_t(i)]));
  std::string out;
  EXPECT_EQ(run(args, &out), 0) << out;
  EXPECT_NE(out.find("List rooted at " + card), std::string::npos) << out;
  EXPECT_TRUE(std::filesystem::exists(archive + "/IMG_0002.CR2"));
  EXPECT_FALSE(std::filesystem::exists(archive + "/IMG_0001.JPG"));

  // 29 arguments make a count of 30: the report (usage and error) goes to standard output.
  args = args.substr(0, args.rfind(' '));
  EXPECT_EQ(run(args, &out), 2);
  EXPECT_NE(out.find("ERROR: arg count"), std::string::npos) << out;
}

}  // namespace
}  // namespace cw
