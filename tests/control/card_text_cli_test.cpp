// A camera's tag values and its file names may hold terminal escape sequences.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/common/test_env.h"
#include "tests/fixtures/programs.h"
#include "tests/fixtures/sample_card.h"

namespace cw {
namespace {

using test::run_cardwright;
using test::sh_quote;
using ::testing::HasSubstr;

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

}  // namespace
}  // namespace cw
