// `cardwright macro`: the laboratory's sample data, the reference text, options and exits.
#include <gtest/gtest.h>

#include "tests/common/test_env.h"

namespace cw {
namespace {

using test::built_program;
using test::run_command;

int run(const std::string& args, std::string* out) {
  return run_command(built_program("app/cardwright") + " macro " + args + " 2>&1", out);
}

TEST(MacroCommand, ExpandsWithSampleDataAndOptions) {
  std::string out;
  EXPECT_EQ(run("'{@prefix,1,-1,_}{@datetimeany,1,8}_{@filename,-4}.{@extension} {@notes}'",
                &out), 0);
  EXPECT_EQ(out, "IMG_YYYYMMDD_0001.NEF \n");  // spaces before an empty value stay
  EXPECT_EQ(run("--xml --notes 'a&b' --set FilenamePrefix=KTP --iptc 'People=Ann; Bob' "
                "--keyword 'Animals|Dog' '{@prefix}:{@notes}:{@iptc.people}:{@keywords}'",
                &out), 0);
  EXPECT_EQ(out, "KTP:a&amp;b:Ann</rdf:li><rdf:li>Bob:Animals|Dog\n");
  EXPECT_EQ(run("--reference", &out), 0);
  EXPECT_NE(out.find("Simple Macros\n"), std::string::npos);
  EXPECT_NE(out.find("\tNumberRange: 0420-0511\n"), std::string::npos);
  EXPECT_NE(out.find("\tDateTimeMonth (month of file): September\n"), std::string::npos);
  EXPECT_NE(out.find("\tSequence, 5 digit: 23456\n"), std::string::npos);
}

TEST(MacroCommand, ExitStatus) {
  std::string out;
  EXPECT_EQ(run("", &out), 2);
  EXPECT_EQ(run("--reference x", &out), 2);
  EXPECT_EQ(run("--bogus x", &out), 2);
  EXPECT_EQ(run("--set novalue x", &out), 2);
  EXPECT_EQ(run("--help", &out), 0);
  // An image that cannot be read is refused with the reason.
  EXPECT_EQ(run("--image /nonexistent.jpg x", &out), 1);
  EXPECT_NE(out.find("cannot read /nonexistent.jpg"), std::string::npos) << out;
}

}  // namespace
}  // namespace cw
