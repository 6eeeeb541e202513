// Manifest files: a tree of many files is written in pieces and comes out as one whole list.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "ingest/manifest.h"
#include "tests/ingest/ingest_harness.h"

namespace cw {
namespace {

using test::read_file;

// Enough lines for several pieces, of varied lengths so that a piece may end anywhere in one,
// added out of order and some twice.
TEST(Manifest, ManyLinesAreWrittenWholeAcrossPieces) {
  test::Harness h;
  ManifestLines lines;
  std::map<std::string, Hash128> added;
  constexpr int kLines = 15000;
  const auto add = [&](int i, const Hash128& hash) {
    const std::string name = "2024/06/" + std::to_string(i % 31 + 1) + "/IMG_" +
                             std::to_string(i) + ".JPG";
    lines.add(name, hash);
    added[name] = hash;
  };
  for (int i = 0; i < kLines; ++i)
    add(i, Hash128{static_cast<std::uint64_t>(i) * 0x9E3779B97F4A7C15ull,
                   static_cast<std::uint64_t>(i)});
  // A path added again is listed once, with its last hash.
  for (int i = 0; i < kLines; i += 7) add(i, Hash128{1, static_cast<std::uint64_t>(i)});
  std::string expected;
  for (const auto& [relative, hash] : added) expected += hash.hex() + "  " + relative + "\n";
  ASSERT_GT(expected.size(), 2u * 256 * 1024);  // three pieces at least

  std::filesystem::create_directories(h.archive);
  std::string path, error;
  ASSERT_TRUE(write_manifest(h.archive, lines, 7, 1717236000, path, error)) << error;
  EXPECT_EQ(read_file(path), expected);
  ManifestCheck check;
  ASSERT_TRUE(check_manifest(path, h.archive, check, error)) << error;
  EXPECT_EQ(check.missing, kLines);  // only the lines were written, not the files
  EXPECT_EQ(check.malformed, 0);
}

}  // namespace
}  // namespace cw
