// Cards from the command line: a camera's tag values and file names, which may hold terminal
// escape sequences, shown escaped; and (root and FUSE only) cards and archives on the file
// systems cameras use, listed, ingested, recognised and ejected. The program reads a mount table
// of the test's own, so that whatever else is mounted on the machine cannot change what it lists.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "tests/common/test_env.h"
#include "tests/database/db_fixture.h"
#include "tests/fixtures/fuse_card.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_card.h"
#include "tests/fixtures/sample_files.h"

namespace cw {
namespace {

namespace fs = std::filesystem;
using test::CardFs;
using fixtures::mtime_of;
using test::FuseCard;
using test::run_cardwright;
using test::sh_quote;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// Every regular file below `root` that holds something, by its content (the FAT program
// shows the volume label as an empty file).
std::map<std::string, std::string> files_by_content(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file() && e.file_size() > 0)
      files[test::read_file(e.path())] = e.path().string();
  return files;
}

// The JSON object the ingestion printed for the card at `root`.
std::string card_result(const std::string& out, const std::string& root) {
  const std::size_t at = out.find("{\"card\": \"" + root + "\"");
  return at == std::string::npos ? "" : out.substr(at, out.find('}', at) - at);
}

std::string field(const std::string& object, const std::string& name) {
  const std::size_t at = object.find("\"" + name + "\": ");
  if (at == std::string::npos) return "";
  const std::size_t from = at + name.size() + 4;
  return object.substr(from, object.find_first_of(",}", from) - from);
}

// Runs cardwright with the mount table limited to `cards` (other mounts of the machine, other
// tests' cards among them, cannot be listed or ingested) and TZ set to `zone`.
class CardCommands {
 public:
  explicit CardCommands(const test::TempDir& dir) : dir_(dir) {}
  void limit_to(const std::vector<const FuseCard*>& cards) {
    std::vector<std::string> roots;
    for (const FuseCard* card : cards) roots.push_back(card->root());
    test::write_file(dir_ / "mountinfo", test::mount_lines_of(roots));
  }
  int run(const std::string& args, std::string* out, const std::string& zone = "UTC") const {
    // A FUSE program that stopped answering must not hold the test up for ever.
    return test::run_cardwright(args, out, dir_ / "errors",
                                "TZ=" + zone + " timeout 120 env CARDWRIGHT_MOUNTINFO=" +
                                    sh_quote(dir_ / "mountinfo"));
  }
  std::string errors() const { return test::read_file(dir_ / "errors"); }

 private:
  const test::TempDir& dir_;
};

TEST(CardText, EscapeSequencesFromACardAreShownEscaped) {
  test::TempDir dir;
  const std::string card = dir / "card";
  fixtures::CardSpec spec = fixtures::jpeg_card(2);
  spec.camera.model = "EOS\x1b]2;owned\x07 R5";  // retitles a terminal, then rings it
  const std::vector<std::string> images = fixtures::write_sample_card(card, spec);
  ASSERT_EQ(images.size(), 2u);
  const std::string odd = card + "/" + spec.folder + "/IMG\x1b[2J_0002.JPG";  // clears it
  std::filesystem::rename(images[1], odd);

  std::string out;
  ASSERT_EQ(run_cardwright("exif " + sh_quote(images[0]) + " " + sh_quote(odd), &out), 0) << out;
  EXPECT_THAT(out, HasSubstr("EOS\\x1b]2;owned\\x07 R5\n"));
  EXPECT_THAT(out, HasSubstr("==> " + card + "/" + spec.folder + "/IMG\\x1b[2J_0002.JPG <=="));
  EXPECT_EQ(out.find('\x1b'), std::string::npos) << out;
  EXPECT_EQ(out.find('\x07'), std::string::npos) << out;

  const std::string archive = dir / "archive";
  for (const char* mode : {" --dry-run", ""}) {
    ASSERT_EQ(run_cardwright(std::string("ingest") + mode + " --no-backup --card " +
                                 sh_quote(card) + " --primary " + sh_quote(archive),
                             &out),
              0)
        << out;
    EXPECT_EQ(out.find('\x1b'), std::string::npos) << mode << out;
    EXPECT_EQ(out.find('\x07'), std::string::npos) << mode << out;
  }
}

TEST(FuseCardsCommand, ExfatAndFat32CardsAreIngestedRecognisedAfterAZoneChangeAndEjected) {
  for (CardFs fs : {CardFs::kExfat, CardFs::kFat32})
    if (std::string why = FuseCard::unavailable(fs); !why.empty()) GTEST_SKIP() << why;
  test::TempDir dir;
  // exFAT: JPEGs with odd and even seconds, an extension in lower case and a lower-case raw.
  fixtures::CardSpec spec;
  spec.count = 4;
  spec.raw_every = 3;
  spec.raw_extension = "cr2";
  spec.jpeg_width = spec.jpeg_height = 32;
  spec.folder = "DCIM/100CANON";
  const std::vector<std::string> ex_files = fixtures::write_sample_card(dir / "ex", spec);
  ASSERT_EQ(ex_files.size(), 4u);
  fs::rename(ex_files[1], dir / "ex/DCIM/100CANON/IMG_0002.jpg");
  spec.count = 2;
  spec.raw_every = 0;
  spec.prefix = "DSC_";
  spec.folder = "DCIM/100NIKON";
  spec.first_capture = "2024:06:02 08:00:00";
  ASSERT_EQ(fixtures::write_sample_card(dir / "fat", spec).size(), 2u);

  // The exFAT card carries no zones, as a camera without a zone setting writes it: both cards'
  // times then read in the zone of the system that mounts them.
  FuseCard ex(dir, CardFs::kExfat, "EOS_EXFAT", dir / "ex", {"UTC", true});
  FuseCard fat(dir, CardFs::kFat32, "NIKON_FAT", dir / "fat", {"UTC", false});
  ASSERT_TRUE(ex.ok() && fat.ok()) << "FUSE cards could not be made";
  CardCommands cw(dir);
  cw.limit_to({&ex, &fat});

  std::string out;
  // The listing says what to run here, not which button to press, and holds just the two cards.
  ASSERT_EQ(cw.run("cards", &out), 0) << out << cw.errors();
  EXPECT_THAT(out, AllOf(HasSubstr("cardwright ingest"), Not(HasSubstr("Press Start"))));
  ASSERT_EQ(cw.run("cards --json", &out), 0) << out << cw.errors();
  EXPECT_EQ(std::count(out.begin(), out.end(), '{'), 3) << out;
  for (const FuseCard* card : {&ex, &fat})
    EXPECT_THAT(out, HasSubstr("{\"root\": \"" + card->root() + "\""));

  const std::string archive = dir / "archive";
  const std::string ingest =
      "ingest --all-cards --json --no-backup --folder-format '' --primary " + sh_quote(archive);
  ASSERT_EQ(cw.run(ingest, &out), 0) << out << cw.errors();
  const std::string db = test::test_root() / "home/.local/share/CardwrightPro/cw_main.sqlite3";
  EXPECT_EQ(test::raw_values(db, "select image_count || ' ' || result from ingestion order by "
                                 "ingestion_sk desc limit 1"),
            "6 SUCCESS");
  for (const auto& [card, count] : {std::pair{&ex, "4"}, std::pair{&fat, "2"}}) {
    const std::string result = card_result(out, card->root());
    EXPECT_EQ(field(result, "success"), "true") << out;
    EXPECT_EQ(field(result, "copied_without_conversion"), count) << result;
    EXPECT_EQ(field(result, "safe_to_format"), "true") << result;
    EXPECT_THAT(field(result, "verdict"), HasSubstr("Card safe to format: all " +
                                                    std::string(count) + " images have"));
  }
  // Every copy keeps the time the card shows; exFAT shows the times written to it, to the
  // second (FAT's two-second steps and its FUSE program's dates are not compared here).
  std::map<std::string, std::string> copies = files_by_content(archive);
  std::map<std::string, std::int64_t> shown;
  for (const FuseCard* card : {&ex, &fat})
    for (const auto& [bytes, path] : files_by_content(card->root())) {
      SCOPED_TRACE(path);
      ASSERT_EQ(copies.count(bytes), 1u);
      shown[path] = mtime_of(path);
      EXPECT_EQ(mtime_of(copies[bytes]), shown[path]);
    }
  for (const auto& [bytes, path] : files_by_content(dir / "ex"))
    EXPECT_EQ(shown[ex.root() + path.substr((dir / "ex").size())], mtime_of(path)) << path;

  // The computer moves to another zone: the cards' files read hours later (the FUSE programs
  // take the zone's offset of today, or of the file's date), and are still recognised.
  for (FuseCard* card : {&ex, &fat})
    ASSERT_TRUE(card->unmount() && card->mount("America/New_York"));
  cw.limit_to({&ex, &fat});
  for (const auto& [path, before] : shown) {
    const std::int64_t shift = mtime_of(path) - before;
    EXPECT_TRUE(shift >= 4 * 3600 && shift <= 5 * 3600 && shift % 3600 == 0) << path << shift;
  }
  ASSERT_EQ(cw.run(ingest, &out, "America/New_York"), 0) << out << cw.errors();
  for (const auto& [card, count] : {std::pair{&ex, "4"}, std::pair{&fat, "2"}}) {
    const std::string result = card_result(out, card->root());
    EXPECT_EQ(field(result, "copied_without_conversion"), "0") << result;
    EXPECT_EQ(field(result, "already_archived"), count) << result;
    EXPECT_EQ(field(result, "safe_to_format"), "true") << result;
  }
  EXPECT_EQ(files_by_content(archive).size(), copies.size());

  ASSERT_EQ(cw.run("eject " + sh_quote(ex.root()), &out), 0) << out << cw.errors();
  EXPECT_THAT(out, HasSubstr("Media in Drive " + ex.root() + " has been ejected safely."));
  EXPECT_FALSE(test::mounted(ex.root()));
  EXPECT_TRUE(test::mounted(fat.root()));
  ASSERT_EQ(cw.run("eject --all-cards", &out), 0) << out << cw.errors();
  EXPECT_THAT(out, HasSubstr("Media in Drive " + fat.root() + " has been ejected safely."));
}

TEST(FuseCardsCommand, NamesDifferingOnlyInCaseNeverReplaceEachOtherInAnExfatArchive) {
  if (std::string why = FuseCard::unavailable(CardFs::kExfat); !why.empty()) GTEST_SKIP() << why;
  test::TempDir dir;
  fs::create_directory(dir / "empty");
  FuseCard archive(dir, CardFs::kExfat, "ARCHIVE", dir / "empty");
  ASSERT_TRUE(archive.ok()) << "FUSE card could not be made";
  // Two cards, one image each, named alike but for the case.
  fixtures::CardSpec spec;
  spec.count = 1;
  spec.jpeg_width = spec.jpeg_height = 32;
  const std::string a = fixtures::write_sample_card(dir / "a", spec).at(0);
  spec.first_capture = "2024:05:17 11:00:00";
  const std::string b0 = fixtures::write_sample_card(dir / "b", spec).at(0);
  const std::string b = dir / "b/DCIM/100CWTST/img_0001.jpg";
  fs::rename(b0, b);

  CardCommands cw(dir);
  cw.limit_to({});
  const std::string options = " --json --no-backup --folder-format '' --name-format '{@filename}' "
                              "--primary " + sh_quote(archive.root());
  std::string out;
  for (const char* card : {"a", "b", "b"})
    ASSERT_EQ(cw.run("ingest --card " + sh_quote(dir / card + "/DCIM") + options, &out), 0)
        << out << cw.errors();
  // The second run of card b finds its image; nothing was copied over another.
  EXPECT_EQ(field(out, "already_archived"), "1") << out;
  EXPECT_EQ(field(out, "safe_to_format"), "true") << out;
  std::map<std::string, std::string> images;
  for (const auto& [bytes, path] : files_by_content(archive.root()))
    if (path.ends_with(".JPG") || path.ends_with(".jpg")) images[bytes] = path;
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(fs::path(images[test::read_file(a)]).filename(), "IMG_0001.JPG");
  EXPECT_EQ(fs::path(images[test::read_file(b)]).filename(), "img_0001_00001.jpg");
}

}  // namespace
}  // namespace cw
