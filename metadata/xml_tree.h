// A small XML tree for the documents this program builds and then edits (XMP sidecars made
// from templates): a whole text is parsed, checked to be well-formed, and written out again
// byte for byte, so that a caller can take nodes out or put new ones in and leave everything
// else as it was (layout, quoting, comments, attribute order).
//
// The nodes hold views: into the parsed text, which must outlive the document, and into the
// texts the document keeps (XmlDocument::keep) for what is resolved or put in later. Parsing
// a sidecar thus copies none of its names, values and white space.
//
// Not a validating parser: a document type declaration is refused, and only the five
// predefined entities and character references are known. Names are checked only for their
// first character and the characters that cannot be part of one. Nesting is bounded by
// kXmlMaxDepth so that no text can exhaust the stack.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cw {

// Deepest element nesting parse_xml accepts.
inline constexpr int kXmlMaxDepth = 256;

struct XmlAttribute {
  std::string_view name;
  std::string_view value;  // with its references resolved
  std::string_view raw;  // as written: the white space before it, the name, "=" and the quoted value
};

struct XmlNode;
// A document's lists of nodes and attributes take their memory from the document (see
// XmlDocument), so parsing and editing one makes a few large allocations instead of two or
// three for every element.
using XmlNodes = std::pmr::vector<XmlNode>;
using XmlAttributes = std::pmr::vector<XmlAttribute>;

struct XmlNode {
  // A node put into a list builds its own lists from the list's memory.
  using allocator_type = std::pmr::polymorphic_allocator<>;
  XmlNode() = default;
  explicit XmlNode(const allocator_type& memory) : attributes(memory), children(memory) {}
  XmlNode(const XmlNode& other, const allocator_type& memory);
  XmlNode(XmlNode&& other, const allocator_type& memory);
  XmlNode(const XmlNode&) = default;
  XmlNode(XmlNode&&) = default;
  XmlNode& operator=(const XmlNode&) = default;
  XmlNode& operator=(XmlNode&&) = default;

  enum class Kind { kElement, kText, kComment, kCData, kInstruction };
  Kind kind = Kind::kText;
  // Everything but an element: its text as written ("<!--...-->", "<?...?>", character data
  // with its references unresolved).
  std::string_view raw;
  // An element: "<" name attributes tail (">" or "/>"), then children and end_tag.
  std::string_view name;
  XmlAttributes attributes;
  std::string_view tag_tail;  // the white space after the last attribute
  bool self_closing = false;
  XmlNodes children;
  std::string_view end_tag;  // "</name>" as written, white space included

  bool is_element() const { return kind == Kind::kElement; }
  // Character data or a CDATA section holding only white space (after references).
  bool is_blank() const;
};

// A document's top-level nodes: the prolog, one root element and what follows it.
struct XmlDocument {
  // `reserve`: the bytes its nodes' lists are expected to take, had in one piece at first;
  // none: the lists' memory starts small and grows as they do.
  explicit XmlDocument(std::size_t reserve = 0)
      : memory(reserve > 0 ? std::make_unique<std::pmr::monotonic_buffer_resource>(reserve)
                           : std::make_unique<std::pmr::monotonic_buffer_resource>()),
        nodes(memory.get()) {}
  XmlDocument(XmlDocument&&) = default;
  // Assigned to, the document would give its memory back before its own nodes were gone.
  XmlDocument& operator=(XmlDocument&&) = delete;
  // A copy's nodes would still view the original's kept texts.
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Keeps `text` as long as the document: a node may view it.
  std::string_view keep(std::string text) { return kept.emplace_back(std::move(text)); }

  // Where the nodes' lists are kept, released all at once with the document (a node taken
  // out leaves its lists' memory until then). It stays in place when the document moves.
  std::unique_ptr<std::pmr::monotonic_buffer_resource> memory;
  XmlNodes nodes;
  std::deque<std::string> kept;  // a deque never moves what it holds
};

// The document in `text` (viewed by its nodes); nothing, with `why` naming the fault and its
// line, when the text is not well-formed.
std::optional<XmlDocument> parse_xml(std::string_view text, std::string& why);

// The document as text: the parsed text itself when nothing was changed.
std::string write_xml(const XmlDocument& doc);

// Character data as written with its references resolved (the text must have come from
// parse_xml, which checked them).
std::string xml_unescape(std::string_view raw);

// The text escaped for character data or a double-quoted attribute value.
std::string xml_escape(std::string_view text);

}  // namespace cw
