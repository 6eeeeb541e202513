// The keyword vocabulary model: load, save and edits.
#include "settings/vocabulary.h"

#include <strings.h>

#include <cstdio>

#include "settings/preset_keys.h"

namespace cw {

namespace {

VocabItemObj make_node(const std::string& text, int level) {
  VocabItemObj node;
  node.text = text;
  node.level = level;
  node.keywords_heading = level == 1 && text == "Keywords";
  return node;
}

enum class Walk { Continue, Stop };

// Reads the values at `pos` as children of `parent` until a value of another level comes
// (which ends this parent) or a bad value (which ends the whole load).
Walk load_children(VocabItemObj& parent, const PROPSET* set, int count, int& pos) {
  while (pos < count) {
    const PROPVAL* v = prop_get(set, kVocabularyKey, pos);
    if (!v || v->type != kPropStr || v->strval.size() < 4) return Walk::Stop;
    const std::string& s = v->strval;
    if (s[0] < '0' || s[0] > '9' || s[1] < '0' || s[1] > '9') return Walk::Stop;
    int level = (s[0] - '0') * 10 + (s[1] - '0');
    if (level != parent.level + 1) return Walk::Continue;
    VocabItemObj child = make_node(s.substr(4), level);
    child.checked = s[2] == '*';
    child.expanded = s[3] == '+';
    parent.children.push_back(std::move(child));
    ++pos;
    if (load_children(parent.children.back(), set, count, pos) == Walk::Stop) return Walk::Stop;
  }
  return Walk::Continue;
}

void save_node(const VocabItemObj& node, PROPSET* set, int& index) {
  for (const VocabItemObj& child : node.children) {
    PropPutStr(set, kVocabularyKey, index++, Vocabulary::stored_form(child).c_str());
    save_node(child, set, index);
  }
}

bool erase_node(VocabItemObj& parent, const VocabItemObj* target) {
  for (auto it = parent.children.begin(); it != parent.children.end(); ++it) {
    if (&*it == target) {
      parent.children.erase(it);
      return true;
    }
    if (erase_node(*it, target)) return true;
  }
  return false;
}

}  // namespace

Vocabulary::Vocabulary() { set_default_tree(); }

void Vocabulary::set_default_tree() {
  root_ = make_node("ROOT", 0);
  root_.children.push_back(make_node("Catalog Sets", 1));
  root_.children.push_back(make_node("Keywords", 1));
}

void Vocabulary::load(const PROPSET* set) {
  int count = prop_count(set, kVocabularyKey);
  if (count < 2) {
    set_default_tree();
    return;
  }
  root_ = make_node("ROOT", 0);
  int pos = 0;
  load_children(root_, set, count, pos);
}

std::string Vocabulary::stored_form(const VocabItemObj& node) {
  char head[8];
  std::snprintf(head, sizeof head, "%02d%c%c", node.level % 100, node.checked ? '*' : ' ',
                node.expanded ? '+' : ' ');
  return head + node.text;
}

bool Vocabulary::save(PROPSET* set) const {
  if (!set) return false;
  PropRemove(set, kVocabularyKey);
  int index = 0;
  save_node(root_, set, index);
  return true;
}

VocabItemObj* Vocabulary::add_child(VocabItemObj& parent, PROPSET* set) {
  parent.children.push_back(make_node("NewItem", parent.level + 1));
  parent.expanded = true;
  save(set);
  return &parent.children.back();
}

bool Vocabulary::rename(VocabItemObj& node, const std::string& text, PROPSET* set) {
  node.text = text;
  node.keywords_heading = node.level == 1 && text == "Keywords";
  return save(set);
}

bool Vocabulary::remove(const VocabItemObj& node, PROPSET* set) {
  if (node.level < 2 || !erase_node(root_, &node)) return false;
  return save(set);
}

bool Vocabulary::set_checked(VocabItemObj& node, bool checked, PROPSET* set) {
  node.checked = checked;
  return save(set);
}

bool Vocabulary::check_path(const std::vector<std::string>& path, PROPSET* set) {
  if (path.size() < 2) return false;
  VocabItemObj* node = find({path[0]});
  for (std::size_t i = 1; node && i < path.size(); ++i) {
    VocabItemObj* next = nullptr;
    for (VocabItemObj& child : node->children)
      if (!next && strcasecmp(child.text.c_str(), path[i].c_str()) == 0) next = &child;
    if (!next && (next = add_child(*node, set))) rename(*next, path[i], set);
    node = next;
  }
  return node && set_checked(*node, true, set);
}

VocabItemObj* Vocabulary::find(const std::vector<std::string>& path) {
  VocabItemObj* node = &root_;
  for (const std::string& text : path) {
    VocabItemObj* next = nullptr;
    for (VocabItemObj& child : node->children)
      if (!next && strcasecmp(child.text.c_str(), text.c_str()) == 0) next = &child;
    if (!next) return nullptr;
    node = next;
  }
  return node;
}

}  // namespace cw
