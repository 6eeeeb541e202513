// The XML tree: a recursive-descent parser that keeps every node's text as written, the
// writer that puts it back together, and reference resolution and escaping.
#include "metadata/xml_tree.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "foundation/text.h"

namespace cw {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool is_name_start(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || u >= 0x80;
}

bool is_name_char(char c) {
  return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// A code point XML 1.0 allows in a document.
bool is_xml_char(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The reference at the start of `text` (just after its "&"): its length up to and including
// the ";" and what it stands for; 0 when it is not a reference XML knows.
std::size_t reference(std::string_view text, std::string* out) {
  const std::size_t semi = text.find(';');
  if (semi == std::string_view::npos || semi == 0 || semi > 10) return 0;
  const std::string_view body = text.substr(0, semi);
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  for (const auto& [name, c] : kNamed)
    if (body == name) {
      if (out) *out += c;
      return semi + 1;
    }
  if (body[0] != '#' || body.size() < 2) return 0;
  const bool hex = body[1] == 'x';
  const std::string_view digits = body.substr(hex ? 2 : 1);
  if (digits.empty()) return 0;
  std::uint32_t code = 0;
  for (char d : digits) {
    int v = d >= '0' && d <= '9'                 ? d - '0'
            : hex && d >= 'a' && d <= 'f'        ? d - 'a' + 10
            : hex && d >= 'A' && d <= 'F'        ? d - 'A' + 10
                                                 : -1;
    if (v < 0) return 0;
    code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(v);
    if (code > 0x10FFFF) return 0;
  }
  if (!is_xml_char(code)) return 0;
  if (out) append_utf8(*out, code);
  return semi + 1;
}

class Parser {
 public:
  Parser(std::string_view text, XmlDocument& doc) : t_(text), doc_(doc) {}

  bool document() {
    bool have_root = false;
    while (pos_ < t_.size()) {
      if (is_space(t_[pos_])) {
        const std::size_t start = pos_;
        while (pos_ < t_.size() && is_space(t_[pos_])) ++pos_;
        doc_.nodes.push_back(text_node(t_.substr(start, pos_ - start)));
        continue;
      }
      if (t_[pos_] != '<') return fail("text outside the root element");
      if (at("<!DOCTYPE")) return fail("document type declarations are not read");
      if (at("<!--") || at("<?")) {
        if (!markup(doc_.nodes.emplace_back())) return false;
        continue;
      }
      if (have_root) return fail("a second root element");
      if (!element(doc_.nodes.emplace_back(), 1)) return false;
      have_root = true;
    }
    return have_root || fail("no root element");
  }

  const std::string& why() const { return why_; }

 private:
  bool at(std::string_view s) const { return t_.substr(pos_, s.size()) == s; }

  bool fail(const char* what) {
    if (why_.empty()) {
      const std::size_t upto = std::min(pos_, t_.size());
      const long line = 1 + std::count(t_.begin(), t_.begin() + static_cast<long>(upto), '\n');
      why_ = std::string(what) + " (line " + std::to_string(line) + ")";
    }
    return false;
  }

  static XmlNode text_node(std::string_view raw) {
    XmlNode n;
    n.kind = XmlNode::Kind::kText;
    n.raw = raw;
    return n;
  }

  // Characters XML forbids, and "&" that starts no reference, in character data or an
  // attribute value.
  bool check_text(std::string_view text, bool attribute) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
        pos_ += i;
        return fail("a control character");
      }
      if (c == '&' && reference(text.substr(i + 1), nullptr) == 0) {
        pos_ += i;
        return fail("an \"&\" that starts no known reference");
      }
      if (attribute && c == '<') {
        pos_ += i;
        return fail("\"<\" in an attribute value");
      }
      if (!attribute && c == ']' && text.substr(i, 3) == "]]>") {
        pos_ += i;
        return fail("\"]]>\" in character data");
      }
    }
    return true;
  }

  // A comment, CDATA section or processing instruction at pos_.
  bool markup(XmlNode& node) {
    struct Form {
      std::string_view open, close;
      XmlNode::Kind kind;
      const char* unclosed;
    };
    static constexpr Form kForms[] = {
        {"<!--", "-->", XmlNode::Kind::kComment, "a comment without its end"},
        {"<![CDATA[", "]]>", XmlNode::Kind::kCData, "a CDATA section without its end"},
        {"<?", "?>", XmlNode::Kind::kInstruction, "a processing instruction without its end"},
    };
    for (const Form& f : kForms) {
      if (!at(f.open)) continue;
      const std::size_t end = t_.find(f.close, pos_ + f.open.size());
      if (end == std::string_view::npos) return fail(f.unclosed);
      const std::string_view body = t_.substr(pos_ + f.open.size(), end - pos_ - f.open.size());
      if (f.kind == XmlNode::Kind::kComment && body.find("--") != std::string_view::npos)
        return fail("\"--\" inside a comment");
      for (char ch : body) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 && !is_space(ch)) return fail("a control character");
      }
      node.kind = f.kind;
      node.raw = t_.substr(pos_, end + f.close.size() - pos_);
      pos_ = end + f.close.size();
      return true;
    }
    return fail("markup that is not an element, comment or instruction");
  }

  bool name(std::string_view& out) {
    const std::size_t start = pos_;
    if (pos_ >= t_.size() || !is_name_start(t_[pos_])) return fail("a missing or bad name");
    while (pos_ < t_.size() && is_name_char(t_[pos_])) ++pos_;
    out = t_.substr(start, pos_ - start);
    return true;
  }

  void skip_space() {
    while (pos_ < t_.size() && is_space(t_[pos_])) ++pos_;
  }

  bool attribute(XmlNode& el, std::size_t raw_start) {
    XmlAttribute a;
    if (!name(a.name)) return false;
    skip_space();
    if (pos_ >= t_.size() || t_[pos_] != '=') return fail("an attribute without \"=\"");
    ++pos_;
    skip_space();
    if (pos_ >= t_.size() || (t_[pos_] != '"' && t_[pos_] != '\''))
      return fail("an attribute value without quotes");
    const char quote = t_[pos_++];
    const std::size_t end = t_.find(quote, pos_);
    if (end == std::string_view::npos) return fail("an attribute value without its end");
    const std::string_view raw_value = t_.substr(pos_, end - pos_);
    if (!check_text(raw_value, true)) return false;
    // Only a value with references differs from the text as written.
    a.value = raw_value.find('&') == std::string_view::npos ? raw_value
                                                            : doc_.keep(xml_unescape(raw_value));
    pos_ = end + 1;
    a.raw = t_.substr(raw_start, pos_ - raw_start);
    for (const XmlAttribute& other : el.attributes)
      if (other.name == a.name) return fail("an attribute given twice");
    el.attributes.push_back(std::move(a));
    return true;
  }

  bool element(XmlNode& el, int depth) {
    if (depth > kXmlMaxDepth) return fail("elements nested too deeply");
    el.kind = XmlNode::Kind::kElement;
    ++pos_;  // "<"
    if (!name(el.name)) return false;
    for (;;) {
      const std::size_t space_start = pos_;
      skip_space();
      if (pos_ >= t_.size()) return fail("a start tag without its end");
      if (at("/>") || t_[pos_] == '>') {
        el.tag_tail = t_.substr(space_start, pos_ - space_start);
        el.self_closing = t_[pos_] == '/';
        pos_ += el.self_closing ? 2 : 1;
        break;
      }
      if (pos_ == space_start) return fail("attributes not separated by white space");
      if (!attribute(el, space_start)) return false;
    }
    if (el.self_closing) return true;
    return content(el, depth);
  }

  bool content(XmlNode& el, int depth) {
    // An element's content is mostly white space, a child and white space: room for that from
    // the start spares the list's first regrowths, each of which moves every node in it.
    el.children.reserve(4);
    for (;;) {
      const std::size_t lt = t_.find('<', pos_);
      if (lt == std::string_view::npos) {
        pos_ = t_.size();
        return fail("an element without its end tag");
      }
      if (lt > pos_) {
        const std::string_view text = t_.substr(pos_, lt - pos_);
        if (!check_text(text, false)) return false;
        el.children.push_back(text_node(text));
        pos_ = lt;
      }
      if (at("</")) {
        const std::size_t start = pos_;
        pos_ += 2;
        std::string_view closing;
        if (!name(closing)) return false;
        if (closing != el.name) return fail("an end tag that does not match its start tag");
        skip_space();
        if (pos_ >= t_.size() || t_[pos_] != '>') return fail("an end tag without \">\"");
        ++pos_;
        el.end_tag = t_.substr(start, pos_ - start);
        return true;
      }
      // Parsed in its place: what is parsed into it never changes `el.children` itself.
      XmlNode& child = el.children.emplace_back();
      if (at("<!--") || at("<![CDATA[") || at("<?") || at("<!")) {
        if (!markup(child)) return false;
      } else if (!element(child, depth + 1)) {
        return false;
      }
    }
  }

  std::string_view t_;
  XmlDocument& doc_;
  std::size_t pos_ = 0;
  std::string why_;
};

void write_node(const XmlNode& n, std::string& out) {
  if (!n.is_element()) {
    out += n.raw;
    return;
  }
  out += '<';
  out += n.name;
  for (const XmlAttribute& a : n.attributes) out += a.raw;
  out += n.tag_tail;
  if (n.self_closing) {
    out += "/>";
    return;
  }
  out += '>';
  for (const XmlNode& c : n.children) write_node(c, out);
  out += n.end_tag;
}

}  // namespace

XmlNode::XmlNode(const XmlNode& other, const allocator_type& memory)
    : kind(other.kind),
      raw(other.raw),
      name(other.name),
      attributes(other.attributes, memory),
      tag_tail(other.tag_tail),
      self_closing(other.self_closing),
      children(other.children, memory),
      end_tag(other.end_tag) {}

XmlNode::XmlNode(XmlNode&& other, const allocator_type& memory)
    : kind(other.kind),
      raw(other.raw),
      name(other.name),
      attributes(std::move(other.attributes), memory),
      tag_tail(other.tag_tail),
      self_closing(other.self_closing),
      children(std::move(other.children), memory),
      end_tag(other.end_tag) {}

bool XmlNode::is_blank() const {
  if (kind == Kind::kText) {
    // Most text is plain white space or a value: only one with references needs resolving.
    if (raw.find('&') == std::string::npos) return std::all_of(raw.begin(), raw.end(), is_space);
    const std::string text = xml_unescape(raw);
    return std::all_of(text.begin(), text.end(), is_space);
  }
  if (kind == Kind::kCData) {
    const std::string_view body = std::string_view(raw).substr(9, raw.size() - 12);
    return std::all_of(body.begin(), body.end(), is_space);
  }
  return false;
}

std::optional<XmlDocument> parse_xml(std::string_view text, std::string& why) {
  // A sidecar's nodes and their lists (with the room their growth leaves behind) take about
  // twenty times its text: had in one piece, parsing one asks the system for memory once
  // instead of some ten times, in pieces of up to half of that.
  constexpr std::size_t kNodeBytesPerTextByte = 20;
  constexpr std::size_t kMostReserved = 4 * 1024 * 1024;
  XmlDocument doc(std::min(text.size() * kNodeBytesPerTextByte, kMostReserved));
  Parser parser(text, doc);
  if (!parser.document()) {
    why = parser.why();
    return std::nullopt;
  }
  return doc;
}

std::string write_xml(const XmlDocument& doc) {
  std::string out;
  for (const XmlNode& n : doc.nodes) write_node(n, out);
  return out;
}

std::string xml_unescape(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '&') {
      const std::size_t n = reference(raw.substr(i + 1), &out);
      if (n > 0) {
        i += n;
        continue;
      }
    }
    out += raw[i];
  }
  return out;
}

std::string xml_escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace cw
