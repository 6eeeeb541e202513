// A small XML tree for the documents this program builds and then edits (XMP sidecars made
// from templates): a whole text is parsed, checked to be well-formed, and written out again
// byte for byte, so that a caller can take nodes out or put new ones in and leave everything
// else as it was (layout, quoting, comments, attribute order).
//
// Not a validating parser: a document type declaration is refused, and only the five
// predefined entities and character references are known. Names are checked only for their
// first character and the characters that cannot be part of one. Nesting is bounded by
// kXmlMaxDepth so that no text can exhaust the stack.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cw {

// Deepest element nesting parse_xml accepts.
inline constexpr int kXmlMaxDepth = 256;

struct XmlAttribute {
  std::string name;
  std::string value;  // with its references resolved
  std::string raw;    // as written: the white space before it, the name, "=" and the quoted value
};

struct XmlNode {
  enum class Kind { kElement, kText, kComment, kCData, kInstruction };
  Kind kind = Kind::kText;
  // Everything but an element: its text as written ("<!--...-->", "<?...?>", character data
  // with its references unresolved).
  std::string raw;
  // An element: "<" name attributes tail (">" or "/>"), then children and end_tag.
  std::string name;
  std::vector<XmlAttribute> attributes;
  std::string tag_tail;  // the white space after the last attribute
  bool self_closing = false;
  std::vector<XmlNode> children;
  std::string end_tag;  // "</name>" as written, white space included

  bool is_element() const { return kind == Kind::kElement; }
  // Character data or a CDATA section holding only white space (after references).
  bool is_blank() const;
};

// A document's top-level nodes: the prolog, one root element and what follows it.
struct XmlDocument {
  std::vector<XmlNode> nodes;
};

// The document in `text`; nothing, with `why` naming the fault and its line, when the text
// is not well-formed.
std::optional<XmlDocument> parse_xml(std::string_view text, std::string& why);

// The document as text: the parsed text itself when nothing was changed.
std::string write_xml(const XmlDocument& doc);

// Character data as written with its references resolved (the text must have come from
// parse_xml, which checked them).
std::string xml_unescape(std::string_view raw);

// The text escaped for character data or a double-quoted attribute value.
std::string xml_escape(std::string_view text);

}  // namespace cw
