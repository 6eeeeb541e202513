// The XML tree under sidecar tidying, and tidying on packets other than the shipped template.
#include "metadata/xmp_tidy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "metadata/xml_tree.h"

namespace cw {
namespace {

using ::testing::StartsWith;

TEST(XmlTree, WritesBackWhatItReadAndNamesEachFault) {
  const std::string doc =
      "<?xpacket begin='' id='x'?>\n<!-- head -->\n"
      "<a:root xmlns:a=\"urn:a\"\n   b='1 &amp; 2' c=\"&#x41;\" ><a:e/><a:t>x &lt; y</a:t>"
      "<![CDATA[<raw>]]><?pi data?><!-- inner --> </a:root >\n<!-- tail -->\n";
  std::string why;
  std::optional<XmlDocument> parsed = parse_xml(doc, why);
  ASSERT_TRUE(parsed) << why;
  EXPECT_EQ(write_xml(*parsed), doc);
  const XmlNode& root = parsed->nodes[4];
  ASSERT_EQ(root.attributes.size(), 3u);
  EXPECT_EQ(root.attributes[1].value, "1 & 2");
  EXPECT_EQ(root.attributes[2].value, "A");

  const std::string nested(kXmlMaxDepth + 1, 'x');
  std::string deep;
  for (char c : nested) deep += std::string("<") + c + ">";
  for (const auto& [text, fault] : std::vector<std::pair<std::string, std::string>>{
           {"<a><b></a>", "an end tag that does not match its start tag (line 1)"},
           {"<a>\n&nbsp;</a>", "an \"&\" that starts no known reference (line 2)"},
           {"<a>&#0;</a>", "an \"&\" that starts no known reference"},
           {"<a x='1' x='2'/>", "an attribute given twice"},
           {"<a x='<'/>", "\"<\" in an attribute value"},
           {"<a x=1/>", "an attribute value without quotes"},
           {"<a/><b/>", "a second root element"},
           {"<a/>text", "text outside the root element"},
           {"<a><!-- open</a>", "a comment without its end"},
           {"<a>\x01</a>", "a control character"},
           {"<!DOCTYPE a><a/>", "document type declarations are not read"},
           {"<!-- only -->", "no root element"},
           {"<a>", "an element without its end tag"},
           {deep, "elements nested too deeply"}}) {
    why.clear();
    EXPECT_FALSE(parse_xml(text, why)) << text;
    EXPECT_THAT(why, StartsWith(fault)) << text;
  }
}

TEST(XmpTidy, LeavesOutEmptyValuesAndCompletesFlagAndDates) {
  // Any prefixes: what counts is the namespace.
  std::string xml =
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"\">\n"
      " <r:RDF xmlns:r=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
      "  <!-- names -->\n"
      "  <r:Description r:about=\"\" xmlns:d=\"http://purl.org/dc/elements/1.1/\"\n"
      "    xmlns:m=\"http://ns.adobe.com/xap/1.0/\" m:Rating=\"\" m:Label=\"Red\">\n"
      "   <d:subject>\n    <r:Bag>\n     <r:li>&#xA; </r:li><r:li>boat</r:li>\n    </r:Bag>\n"
      "   </d:subject>\n"
      "   <d:rights><r:Alt><r:li xml:lang=\"x-default\">(c) Ada</r:li></r:Alt></d:rights>\n"
      "   <d:source r:resource=\"urn:src\"/>\n"
      "   <m:CreateDate>2024-06-01</m:CreateDate>\n"
      "  </r:Description>\n"
      "  <!-- contact: nothing set -->\n"
      "  <r:Description r:about=\"\" xmlns:c=\"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/\">\n"
      "   <c:CreatorContactInfo r:parseType=\"Resource\">\n"
      "    <c:CiAdrCity></c:CiAdrCity>\n    <c:CiEmailWork> </c:CiEmailWork>\n"
      "   </c:CreatorContactInfo>\n"
      "  </r:Description>\n"
      "  <r:Description r:about=\"\" xmlns:p=\"http://ns.adobe.com/photoshop/1.0/\">\n"
      "   <p:DateCreated>2023-12-24</p:DateCreated>\n"
      "  </r:Description>\n"
      " </r:RDF>\n"
      "</x:xmpmeta>\n";
  std::string why;
  ASSERT_TRUE(tidy_sidecar_xmp(xml, {"20240601_140322", "-05:30"}, why)) << why;
  EXPECT_EQ(xml,
            "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"\">\n"
            " <r:RDF xmlns:r=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
            "  <!-- names -->\n"
            "  <r:Description r:about=\"\" xmlns:d=\"http://purl.org/dc/elements/1.1/\"\n"
            "    xmlns:m=\"http://ns.adobe.com/xap/1.0/\" m:Label=\"Red\">\n"
            "   <d:subject>\n    <r:Bag>\n     <r:li>boat</r:li>\n    </r:Bag>\n"
            "   </d:subject>\n"
            "   <d:rights><r:Alt><r:li xml:lang=\"x-default\">(c) Ada</r:li></r:Alt></d:rights>\n"
            "   <xmpRights:Marked xmlns:xmpRights=\"http://ns.adobe.com/xap/1.0/rights/\">True"
            "</xmpRights:Marked>\n"
            "   <d:source r:resource=\"urn:src\"/>\n"
            "   <m:CreateDate>2024-06-01T14:03:22-05:30</m:CreateDate>\n"
            "  </r:Description>\n"
            "  <r:Description r:about=\"\" xmlns:p=\"http://ns.adobe.com/photoshop/1.0/\">\n"
            "   <p:DateCreated>2023-12-24</p:DateCreated>\n"
            "  </r:Description>\n"
            " </r:RDF>\n"
            "</x:xmpmeta>\n");

  // A flag the presets set stays, even without a notice; an unknown capture time changes no
  // date; a packet with nothing set keeps its rdf:RDF.
  std::string flagged =
      "<r:RDF xmlns:r=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
      "<r:Description xmlns:x=\"http://ns.adobe.com/xap/1.0/rights/\" x:Marked=\"False\"/>"
      "<r:Description xmlns:p=\"http://ns.adobe.com/photoshop/1.0/\">"
      "<p:DateCreated>2024-06-01</p:DateCreated></r:Description></r:RDF>";
  const std::string as_written = flagged;
  ASSERT_TRUE(tidy_sidecar_xmp(flagged, {}, why)) << why;
  EXPECT_EQ(flagged, as_written);
  std::string empty = "<r:RDF xmlns:r=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
                      " <r:Description><r:li/></r:Description>\n</r:RDF>";
  ASSERT_TRUE(tidy_sidecar_xmp(empty, {}, why)) << why;
  EXPECT_EQ(empty, "<r:RDF xmlns:r=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n </r:RDF>");

  // Catalog-set paths lose the names that came out empty (no client, no project chosen).
  std::string sets = "<r:RDF xmlns:r=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
                     "<r:Description xmlns:l=\"http://ns.adobe.com/lightroom/1.0/\">"
                     "<l:hierarchicalSubject><r:Bag><r:li>|</r:li><r:li>Weddings| </r:li>"
                     "<r:li>A|B</r:li></r:Bag></l:hierarchicalSubject></r:Description></r:RDF>";
  ASSERT_TRUE(tidy_sidecar_xmp(sets, {}, why)) << why;
  EXPECT_THAT(sets, ::testing::HasSubstr("<r:Bag><r:li>Weddings</r:li><r:li>A|B</r:li></r:Bag>"));

  EXPECT_EQ(exif_zone_offset("+02:00"), "+02:00");
  for (const char* bad : {"", "+2:00", "02:00", "+02:0a", "+02:00 "})
    EXPECT_EQ(exif_zone_offset(bad), "") << bad;
}

}  // namespace
}  // namespace cw
