// Sidecar generation: the template copy rules, develop-settings blocks and every failure.
#include "metadata/sidecar.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "metadata/macro.h"
#include "tests/common/test_env.h"
#include "tests/sidecar/sidecar_fixtures.h"

namespace cw {
namespace {

using test::read_file;
using test::write_file;
using ::testing::HasSubstr;
using ::testing::Not;

class SidecarTest : public ::testing::Test {
 protected:
  // Builds a sidecar from the given template and settings paths; returns success.
  bool build(const std::string& tmpl, const std::string& settings, const std::string& out) {
    return sidecar_from_template(tmpl, settings, out, "IMG_0001", "20260314_091502", "0042",
                                 dir / "IMG_0001.CR2", env, cache, msg, wanted);
  }
  // Why building failed; "<built>" when it did not.
  std::string failure(const std::string& tmpl, const std::string& settings,
                      const std::string& out) {
    return build(tmpl, settings, out) ? "<built>" : msg;
  }
  std::string write(const std::string& name, const std::string& text) {
    write_file(dir / name, text);
    return dir / name;
  }

  test::TempDir dir;
  MemoryMacroEnvironment env;
  SidecarCache cache;
  std::string msg;
  bool wanted = false;
};

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(SidecarTest, TemplateCopyRules) {
  const std::string tmpl = write(
      "t.xmp",
      "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\r\n"
      " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\r"
      "  <rdf:Description rdf:about=\"\" xmlns:lost=\"urn:lost\"\n"
      "    xmlns:exif=\"http://ns.adobe.com/exif/1.0/\">\n"
      "   <exif:Flash>1</exif:Flash>\n"
      "  </rdf:Description>\n"
      "  <rdf:Description rdf:about=\"\" xmlns:gone=\"urn:gone\"\n"
      "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
      "   <dc:format>{@filename}.{@extension} #{@sequence} {@uniqueid} {@numberrange}</dc:format>\n"
      "   <dc:source>{@qf.note}</dc:source>\n"
      "  </rdf:Description>\n"
      "  <rdf:Description rdf:about=\"\"\n"
      "    xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\">\n"
      "   <tiff:Make>x</tiff:Make>\n"
      "  </rdf:Description>\n"
      " </rdf:RDF>\n"
      "</x:xmpmeta>\n"
      "<?xpacket end=\"w\"?>");
  const std::string settings = write("p.lrtemplate", test::kDevelopPreset);
  env.set_master("qf_note", PresetValue::of("R&D <draft>"));
  const std::string out = dir / "IMG_0001.xmp";
  ASSERT_TRUE(build(tmpl, settings, out)) << msg;
  EXPECT_TRUE(wanted);
  const std::string text = read_file(out);

  // The xpacket instructions and CRs go, the xmpmeta start on the first line stays. exif and
  // tiff descriptions vanish whole; dc stays with its start line replaced, so the declaration
  // written on that line is lost.
  EXPECT_EQ(text.rfind("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n", 0), 0u) << text;
  for (const char* gone : {"xpacket", "\r", "exif", "tiff", "urn:lost", "urn:gone"})
    EXPECT_THAT(text, Not(HasSubstr(gone)));
  EXPECT_THAT(text, HasSubstr("<rdf:Description rdf:about=\"\"\n    xmlns:dc="));
  // The settings block sits where the first description started, before the dc one.
  const std::size_t block = text.find("<!-- Camera Raw Settings inserted by CardwrightPro from file " +
                                      settings + " -->\n<rdf:Description rdf:about=\"\"\n");
  ASSERT_NE(block, std::string::npos) << text;
  EXPECT_LT(block, text.find("xmlns:dc="));
  EXPECT_EQ(count(text, "<rdf:Description"), 2u);
  // Expansion: run values, the fixed texts, and XML escaping of values only.
  EXPECT_THAT(text, HasSubstr("<dc:format>IMG_0001.CR2 #0042 ABCDEF0123456 [numberrange not "
                              "available]</dc:format>"));
  EXPECT_THAT(text, HasSubstr("<dc:source>R&amp;D &lt;draft&gt;</dc:source>"));
  EXPECT_TRUE(text.ends_with("</x:xmpmeta>\n<!-- XMP sidecar constructed by CardwrightPro from "
                             "template: " + tmpl + " -->\n"));
  if (test::have_program("xmllint")) {
    EXPECT_EQ(test::run_command("xmllint --noout '" + out + "'"), 0) << text;
  }
}

TEST_F(SidecarTest, FailuresNameTheirCause) {
  const std::string head = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n<rdf:RDF>\n";
  const std::string tail = "</rdf:RDF>\n</x:xmpmeta>\n";
  const std::string out = dir / "out.xmp";

  // 998 characters fit on a line, 999 do not.
  ASSERT_TRUE(build(write("ok.xmp", head + std::string(998, 'a') + "\n" + tail), "", out))
      << msg;
  std::filesystem::remove(out);
  EXPECT_EQ(failure(write("long.xmp", head + std::string(999, 'a') + "\n"), "", out),
            "error reading metadata template -- line too long");
  EXPECT_FALSE(std::filesystem::exists(out));

  EXPECT_EQ(failure(write("no.xmp", "<rdf:RDF>\n<rdf:Description rdf:about=\"\"\n"), "", out),
            "error reading metadata template -- \"<x:xmpmeta ...>\" must be at start of line");
  // The start must begin its line (after white space), not follow other text.
  EXPECT_EQ(failure(write("late.xmp", "<a/><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
                                      "<rdf:Description rdf:about=\"\"\n"), "", out),
            "error reading metadata template -- \"<x:xmpmeta ...>\" must be at start of line");

  EXPECT_EQ(failure(dir / "missing.xmp", "", out), "can't open metadata template");
  EXPECT_EQ(failure("", dir / "missing.lrtemplate", out),
            "can't open Camera Raw/Develop settings file");
  EXPECT_EQ(failure("", write("long.lrtemplate", std::string(999, ' ')), out),
            "error reading Lightroom Develop settings file -- line too long");
  EXPECT_EQ(failure("", write("long-defaults.xmp", "x\n" + std::string(1200, 'x')), out),
            "error reading Camera Raw defaults XMP file -- line too long");
  // A failed settings file fails the sidecar even with a good template.
  EXPECT_EQ(failure(write("good.xmp", head + tail), dir / "missing.xmp", out),
            "can't open Camera Raw/Develop settings file");
  EXPECT_EQ(failure(write("good2.xmp", head + tail), "", dir / "no-such-folder/out.xmp"),
            "can't open sidecar for writing");
  // A template that does not expand to well-formed XML writes nothing and says where.
  EXPECT_EQ(failure(write("open.xmp", head + "<dc:title>{@filename}\n" + tail), "", out),
            "template and settings do not expand to well-formed XML: an end tag that does not "
            "match its start tag (line 4)");
  EXPECT_FALSE(std::filesystem::exists(out));

  // Nothing asked for: nothing written, success.
  msg.clear();
  EXPECT_TRUE(build("", "", out));
  EXPECT_FALSE(wanted);
  EXPECT_FALSE(std::filesystem::exists(out));
  // A settings file without a crs: description still yields its comment only.
  EXPECT_TRUE(build("", write("plain.xmp", "<x:xmpmeta/>\n"), out));
  EXPECT_TRUE(wanted);
  EXPECT_EQ(read_file(out).find("<rdf:Description"), std::string::npos);
}

TEST_F(SidecarTest, DevelopPresetBecomesSettingsElements) {
  const std::string path = write("Warm Portrait.lrtemplate", test::kDevelopPreset);
  std::optional<std::string> block = get_rdf_crs(cache, path, msg);
  ASSERT_TRUE(block) << msg;
  const std::string& b = *block;
  EXPECT_THAT(b, HasSubstr("<rdf:Description rdf:about=\"\"\n    xmlns:crs=\"" +
                           std::string(kCrsNamespace) + "\">\n"));
  // Nothing outside the settings table leaks in.
  EXPECT_THAT(b, Not(HasSubstr("Warm Portrait</crs")));
  EXPECT_THAT(b, Not(HasSubstr("uuid")));
  // The values themselves are read back by exiftool below; here: all of them, in the
  // preset's order, and the element closed.
  EXPECT_EQ(count(b, "<crs:"), 15u);
  EXPECT_TRUE(b.ends_with("<crs:WhiteBalance>As Shot</crs:WhiteBalance>\n</rdf:Description>\n"));

  // The block is cached by path: a second request reads nothing.
  std::filesystem::remove(path);
  std::optional<std::string> again = get_rdf_crs(cache, path, msg);
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, b);
  // Another path replaces the cache.
  EXPECT_TRUE(get_rdf_crs(cache, "", msg));
  EXPECT_FALSE(get_rdf_crs(cache, path, msg));
}

TEST_F(SidecarTest, RawDefaultsCopiedFromTheirDescription) {
  const std::string path = write("Studio.xmp", test::kRawDefaultsXmp);
  std::optional<std::string> block = get_rdf_crs(cache, path, msg);
  ASSERT_TRUE(block) << msg;
  // The file's lines from the namespace to the description's end, CRs dropped, under a head.
  std::string lines = test::kRawDefaultsXmp;
  const std::string end = "</rdf:Description>\r\n";
  const std::size_t from = lines.find("    xmlns:crs="), to = lines.find(end) + end.size();
  lines = lines.substr(from, to - from);
  std::erase(lines, '\r');
  EXPECT_EQ(*block, "<!-- Camera Raw Settings inserted by CardwrightPro from file " + path +
                        " -->\n<rdf:Description rdf:about=\"\"\n" + lines);
}

// exiftool reads a settings-only sidecar as crs: values, the tone curves as lists. (The raw
// defaults' block is their file's own lines, which the test above compares byte for byte.)
TEST_F(SidecarTest, SettingsOnlySidecarReadsBack) {
  if (!test::have_program("exiftool")) GTEST_SKIP() << "exiftool not installed";
  const std::string out = dir / "IMG_0001.xmp";
  ASSERT_TRUE(build("", write("Warm Portrait.lrtemplate", test::kDevelopPreset), out)) << msg;
  const std::string text = read_file(out);
  EXPECT_EQ(text.rfind("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"3.1.2-113\">\n"
                       "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
                       "<!-- Camera Raw Settings inserted",
                       0),
            0u);
  EXPECT_TRUE(text.ends_with("</rdf:RDF>\n</x:xmpmeta>\n<!-- XMP sidecar constructed by "
                             "CardwrightPro (no template) -->\n"));
  EXPECT_EQ(test::run_command("xmllint --noout '" + out + "'"), 0) << text;
  for (const auto& [tag, value] : std::vector<std::pair<std::string, std::string>>{
           {"Exposure2012", "0.35"}, {"WhiteBalance", "As Shot"}, {"ColorTemperature", "5600"},
           {"ToneCurveName2012", "Medium Contrast"},
           {"ToneCurvePV2012", "0, 0|64, 56|192, 202|255, 255"},
           {"ToneCurvePV2012Red", "0, 0|255, 255"}})
    EXPECT_EQ(test::exif_tag("XMP-crs:" + tag, out), value) << tag;
}

}  // namespace
}  // namespace cw
