// Sidecar tidying: namespaces in scope, leaving out what is empty, the copyright flag and the
// capture dates (see xmp_tidy.h).
#include "metadata/xmp_tidy.h"

#include <cctype>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "metadata/xml_tree.h"

namespace cw {

namespace {

constexpr std::string_view kRdfNs = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
constexpr std::string_view kXmlNs = "http://www.w3.org/XML/1998/namespace";
constexpr std::string_view kDcNs = "http://purl.org/dc/elements/1.1/";
constexpr std::string_view kRightsNs = "http://ns.adobe.com/xap/1.0/rights/";
constexpr std::string_view kPhotoshopNs = "http://ns.adobe.com/photoshop/1.0/";
constexpr std::string_view kXmpNs = "http://ns.adobe.com/xap/1.0/";
constexpr std::string_view kHierarchyNs = "http://ns.adobe.com/lightroom/1.0/";

// A name resolved against the declarations in scope.
struct Expanded {
  std::string_view ns, local;
  bool is(std::string_view n, std::string_view l) const { return ns == n && local == l; }
};

// The prefixes declared by the elements from the root down to the current one.
class Namespaces {
 public:
  // Declares what `el` declares; returns the mark to pop back to when leaving it.
  std::size_t enter(const XmlNode& el) {
    const std::size_t mark = bindings_.size();
    for (const XmlAttribute& a : el.attributes) {
      if (a.name == "xmlns") bindings_.emplace_back(std::string_view(), a.value);
      else if (a.name.starts_with("xmlns:")) bindings_.emplace_back(a.name.substr(6), a.value);
    }
    return mark;
  }
  void leave(std::size_t mark) { bindings_.resize(mark); }

  // An element name takes the default namespace when it has no prefix; an attribute none.
  Expanded resolve(std::string_view qname, bool attribute) const {
    const std::size_t colon = qname.find(':');
    const std::string_view prefix =
        colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
    const std::string_view local = colon == std::string_view::npos ? qname : qname.substr(colon + 1);
    if (prefix == "xml") return {kXmlNs, local};
    if (prefix.empty() && attribute) return {{}, local};
    for (auto it = bindings_.rbegin(); it != bindings_.rend(); ++it)
      if (it->first == prefix) return {it->second, local};
    return {{}, local};
  }

 private:
  std::vector<std::pair<std::string_view, std::string_view>> bindings_;  // views of the tree
};

// Attributes that give an element its shape, not a value.
bool is_structure_attribute(const XmlAttribute& a, const Namespaces& ns) {
  if (a.name == "xmlns" || a.name.starts_with("xmlns:")) return true;
  const Expanded e = ns.resolve(a.name, true);
  if (e.ns == kXmlNs) return true;
  return e.ns == kRdfNs && (e.local == "about" || e.local == "parseType" || e.local == "ID" ||
                            e.local == "nodeID" || e.local == "datatype");
}

// Takes out children[i], and a comment that stood right before it (a comment before a block
// describes that block), with the white space on one side so that the layout stays as it
// was: the white space before it when something stands before that, else the white space
// after it. Returns the index of the node that followed it.
std::size_t remove_child(XmlNodes& children, std::size_t i) {
  auto blank = [&](std::size_t k) {
    return children[k].kind == XmlNode::Kind::kText && children[k].is_blank();
  };
  // What goes is one run [from, to) of the list, taken out at once: every node after it
  // moves once.
  std::size_t from = i, to = i + 1;
  std::size_t start = i;
  while (start > 0 && blank(start - 1)) --start;
  if (start > 0 && children[start - 1].kind == XmlNode::Kind::kComment) {
    from = start - 1;
    start = from;
    while (start > 0 && blank(start - 1)) --start;
  }
  if (start > 0) {
    from = start;
  } else {
    while (to < children.size() && blank(to)) ++to;
  }
  children.erase(children.begin() + static_cast<long>(from),
                 children.begin() + static_cast<long>(to));
  return from;
}

// Leaves out what is empty below `el`; true when `el` itself holds nothing any more.
bool prune(XmlNode& el, Namespaces& ns) {
  const std::size_t mark = ns.enter(el);
  bool has_value = false;
  for (std::size_t i = 0; i < el.attributes.size();) {
    const XmlAttribute& a = el.attributes[i];
    if (is_structure_attribute(a, ns)) {
      ++i;
    } else if (a.value.empty()) {
      el.attributes.erase(el.attributes.begin() + static_cast<long>(i));
    } else {
      has_value = true;
      ++i;
    }
  }
  for (std::size_t i = 0; i < el.children.size();) {
    XmlNode& child = el.children[i];
    if (child.is_element()) {
      if (prune(child, ns)) {
        i = remove_child(el.children, i);
        continue;
      }
      has_value = true;
    } else if ((child.kind == XmlNode::Kind::kText || child.kind == XmlNode::Kind::kCData) &&
               !child.is_blank()) {
      has_value = true;
    }
    ++i;
  }
  ns.leave(mark);
  return !has_value;
}

// Visits every element below the nodes with the namespaces in scope; `visit` is called with
// the list holding the element and its index.
template <typename Visit>
void walk(XmlNodes& nodes, Namespaces& ns, Visit& visit) {
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (!nodes[i].is_element()) continue;
    const std::size_t mark = ns.enter(nodes[i]);
    visit(nodes, i, ns);
    walk(nodes[i].children, ns, visit);
    ns.leave(mark);
  }
}

// The element's value when it holds character data only.
std::optional<std::string> simple_value(const XmlNode& el) {
  std::string value;
  for (const XmlNode& c : el.children) {
    if (c.kind != XmlNode::Kind::kText) return std::nullopt;
    value += xml_unescape(c.raw);
  }
  const std::size_t first = value.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return value.substr(first, value.find_last_not_of(" \t\r\n") + 1 - first);
}

// A text node of `raw`, kept by `doc`.
XmlNode text_node(XmlDocument& doc, std::string raw) {
  XmlNode n;
  n.kind = XmlNode::Kind::kText;
  n.raw = doc.keep(std::move(raw));
  return n;
}

// A hierarchical subject is a path of names joined by "|": a name that came out empty (no
// client or project chosen) is dropped from it, so a path of empty names is empty.
std::string hierarchy_path(const std::string& value) {
  std::string path;
  std::size_t from = 0;
  for (;;) {
    const std::size_t bar = value.find('|', from);
    std::string name = value.substr(from, bar == std::string::npos ? std::string::npos : bar - from);
    const std::size_t first = name.find_first_not_of(" \t\r\n");
    if (first != std::string::npos) {
      if (!path.empty()) path += '|';
      path += name.substr(first, name.find_last_not_of(" \t\r\n") + 1 - first);
    }
    if (bar == std::string::npos) return path;
    from = bar + 1;
  }
}

// The items of every lr:hierarchicalSubject list with their empty names dropped.
void tidy_hierarchies(XmlDocument& doc) {
  Namespaces ns;
  auto visit = [&doc](XmlNodes& nodes, std::size_t i, Namespaces& scope) {
    if (!scope.resolve(nodes[i].name, false).is(kHierarchyNs, "hierarchicalSubject")) return;
    for (XmlNode& list : nodes[i].children) {
      if (!list.is_element()) continue;
      for (XmlNode& item : list.children) {
        if (!item.is_element()) continue;
        const std::optional<std::string> value = simple_value(item);
        if (!value) continue;
        const std::string path = hierarchy_path(*value);
        if (path == *value) continue;
        item.children.clear();
        if (!path.empty()) item.children.push_back(text_node(doc, xml_escape(path)));
      }
    }
  };
  walk(doc.nodes, ns, visit);
}

// Prunes the descriptions of every rdf:RDF; the rdf:RDF and what holds it stay.
void prune_packet(XmlDocument& doc) {
  Namespaces ns;
  auto visit = [](XmlNodes& nodes, std::size_t i, Namespaces& scope) {
    XmlNode& el = nodes[i];
    if (!scope.resolve(el.name, false).is(kRdfNs, "RDF")) return;
    for (std::size_t k = 0; k < el.children.size();) {
      if (el.children[k].is_element() && prune(el.children[k], scope))
        k = remove_child(el.children, k);
      else
        ++k;
    }
  };
  walk(doc.nodes, ns, visit);
}

// The date as the capture time gives it: a day that is the capture day, or the capture time
// without a zone, becomes the capture time with the zone where known; anything else stays.
std::string completed_date(const std::string& value, const SidecarCapture& capture) {
  const std::string& c = capture.datetime;
  if (c.size() != 15 || c[8] != '_') return value;
  for (std::size_t i = 0; i < c.size(); ++i)
    if (i != 8 && (c[i] < '0' || c[i] > '9')) return value;
  const std::string day = c.substr(0, 4) + "-" + c.substr(4, 2) + "-" + c.substr(6, 2);
  const std::string time =
      day + "T" + c.substr(9, 2) + ":" + c.substr(11, 2) + ":" + c.substr(13, 2);
  if (value == day || value == time) return time + capture.zone;
  return value;
}

// Sets the creation dates to the capture time; notes whether the packet has a copyright
// notice and a copyright flag, and where the notice is.
struct Completion {
  XmlDocument& doc;
  const SidecarCapture& capture;
  XmlNodes* rights_list = nullptr;
  std::size_t rights_index = 0;
  bool marked = false;

  void operator()(XmlNodes& nodes, std::size_t i, Namespaces& ns) {
    XmlNode& el = nodes[i];
    for (const XmlAttribute& a : el.attributes)
      if (ns.resolve(a.name, true).is(kRightsNs, "Marked")) marked = true;
    const Expanded name = ns.resolve(el.name, false);
    if (name.is(kRightsNs, "Marked")) marked = true;
    if (name.is(kDcNs, "rights") && !rights_list) {
      rights_list = &nodes;
      rights_index = i;
    }
    if (name.is(kPhotoshopNs, "DateCreated") || name.is(kXmpNs, "CreateDate")) {
      const std::optional<std::string> value = simple_value(el);
      if (!value || value->empty()) return;
      const std::string date = completed_date(*value, capture);
      if (date == *value) return;
      el.children.clear();
      el.children.push_back(text_node(doc, xml_escape(date)));
    }
  }
};

// xmpRights:Marked "True" right after the copyright notice, in the notice's layout.
void mark_copyrighted(XmlDocument& doc, XmlNodes& nodes, std::size_t rights) {
  XmlNode marked(doc.memory.get());
  marked.kind = XmlNode::Kind::kElement;
  marked.name = "xmpRights:Marked";
  XmlAttribute declaration;
  declaration.name = "xmlns:xmpRights";
  declaration.value = kRightsNs;
  declaration.raw = doc.keep(" xmlns:xmpRights=\"" + std::string(kRightsNs) + "\"");
  marked.attributes.push_back(declaration);
  marked.children.push_back(text_node(doc, "True"));
  marked.end_tag = "</xmpRights:Marked>";
  XmlNodes added(doc.memory.get());
  if (rights > 0 && nodes[rights - 1].kind == XmlNode::Kind::kText && nodes[rights - 1].is_blank())
    added.push_back(nodes[rights - 1]);
  added.push_back(std::move(marked));
  nodes.insert(nodes.begin() + static_cast<long>(rights + 1), added.begin(), added.end());
}

}  // namespace

bool tidy_sidecar_xmp(std::string& xml, const SidecarCapture& capture, std::string& why) {
  std::optional<XmlDocument> doc = parse_xml(xml, why);
  if (!doc) return false;
  tidy_hierarchies(*doc);
  prune_packet(*doc);
  Completion completion{*doc, capture};
  Namespaces ns;
  walk(doc->nodes, ns, completion);
  if (completion.rights_list && !completion.marked)
    mark_copyrighted(*doc, *completion.rights_list, completion.rights_index);
  xml = write_xml(*doc);
  return true;
}

std::string exif_zone_offset(const std::string& text) {
  const bool ok = text.size() == 6 && (text[0] == '+' || text[0] == '-') && text[3] == ':' &&
                  std::isdigit(static_cast<unsigned char>(text[1])) &&
                  std::isdigit(static_cast<unsigned char>(text[2])) &&
                  std::isdigit(static_cast<unsigned char>(text[4])) &&
                  std::isdigit(static_cast<unsigned char>(text[5]));
  return ok ? text : std::string();
}

}  // namespace cw
