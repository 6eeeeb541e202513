// The stand-in DNG converter that the engine's conversion tests drive: output names, options,
// the two restartable messages with their exit status, and the per-run log used to check
// batching.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/common/test_env.h"
#include "tests/fixtures/sample_card.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::run_command;
using test::TempDir;
using test::write_file;

std::string quoted(const std::string& s) {
  std::string q = "'";
  q += s;
  q += "' ";
  return q;
}

TEST(FakeDngConverter, ConvertsInOrderAndStopsAtABadFile) {
  if (!fs::exists("/usr/bin/python3")) GTEST_SKIP() << "/usr/bin/python3 not installed";
  const std::string converter = fixtures::fake_dng_converter_path();
  TempDir dir;
  fs::create_directories(dir / "out");
  for (const char* name : {"A.CR2", "B.NEF", "C.ARW", "D.ORF"})
    write_file(dir / name, fixtures::build_raw_tiff(fixtures::CameraInfo{}));
  write_file(dir / "D.ORF", "II* CW-NOT-RAW");
  std::string files;
  for (const char* name : {"A.CR2", "B.NEF", "C.ARW", "D.ORF"}) files += quoted(dir / name);
  const std::string env = "FAKE_DNG_LOG=" + quoted(dir / "log") + quoted(converter);
  const std::string fixed = "-c -p1 -e -d " + quoted(dir / "out");

  std::string err;
  int status = run_command("FAKE_DNG_BAD=B.NEF " + env + fixed + files + " 2>&1 >/dev/null",
                           &err);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "Error while converting file: \"" + (dir / "B.NEF") + "\"\n");
  EXPECT_TRUE(fs::exists(dir / "out/A.dng"));
  EXPECT_FALSE(fs::exists(dir / "out/C.dng"));
  const std::string dng = read_file(dir / "out/A.dng");
  EXPECT_EQ(dng.substr(0, 4), std::string("II*\0", 4));
  EXPECT_NE(dng.find("DNG of A.CR2; options: -c -p1 -e"), std::string::npos);
  EXPECT_NE(dng.find(read_file(dir / "A.CR2")), std::string::npos);  // -e embeds the original

  // The rerun after the bad file meets the unsupported one, marked inside the file.
  status = run_command(env + fixed + quoted(dir / "C.ARW") + quoted(dir / "D.ORF") + " 2>&1",
                       &err);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "Not a supported raw file: \"" + (dir / "D.ORF") + "\"\n");
  EXPECT_TRUE(fs::exists(dir / "out/C.dng"));

  // Any other failure is not restartable; every run is logged with its argument count.
  status = run_command("FAKE_DNG_FAIL='Bad license' " + env + fixed + quoted(dir / "C.ARW") + "2>&1",
                       &err);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(err, "Bad license\n");
  EXPECT_EQ(read_file(dir / "log"), "files=4 argc=10\nfiles=2 argc=8\nfiles=1 argc=7\n");
}

}  // namespace
}  // namespace cw
