// The keyword vocabulary: the user's tree of catalog sets and keywords with check marks.
//
// The tree sits under a root ("ROOT", level 0) whose two children are the headings "Catalog
// Sets" and "Keywords". It is stored, after every edit, as the multi-valued property
// "Vocabulary" of the master's working set: one value per node in pre-order, formatted as the
// level in two digits, "*" when checked (else a space), "+" when expanded (else a space), then
// the text. The tree view belongs to the desktop program; this is the model it shows.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "util/proper.h"

namespace cw {

struct VocabItemObj {
  std::string text;
  std::vector<VocabItemObj> children;  // in display and storage order
  int level = 0;
  bool checked = false;
  bool keywords_heading = false;  // the level-1 node "Keywords"
  bool expanded = false;
  void* tree_item = nullptr;  // the view's item while the view is filled
};

class Vocabulary {
 public:
  Vocabulary();
  VocabItemObj& root() { return root_; }
  const VocabItemObj& root() const { return root_; }

  // Builds the tree from the set's "Vocabulary" values (the two headings alone when fewer than
  // two values are stored). A value out of order ends the load; what was read stays.
  void load(const PROPSET* set);
  // Replaces the set's "Vocabulary" values by the tree in pre-order.
  bool save(PROPSET* set) const;

  // Edits; each saves the whole tree into `set` at once.
  // Adds "NewItem" at the end of `parent`'s children and marks the parent expanded.
  VocabItemObj* add_child(VocabItemObj& parent, PROPSET* set);
  bool rename(VocabItemObj& node, const std::string& text, PROPSET* set);
  // Only nodes of level 2 or more can be removed (with their subtrees).
  bool remove(const VocabItemObj& node, PROPSET* set);
  bool set_checked(VocabItemObj& node, bool checked, PROPSET* set);

  // The node reached by a path of texts from the root ("Keywords", "Animals", "Dog"); texts
  // are compared without regard to case. Null when there is none.
  VocabItemObj* find(const std::vector<std::string>& path);
  // Checks the entry reached by `path`, adding the entries along it that are missing (the
  // first name, a heading, must exist); saves into `set`. False when it cannot.
  bool check_path(const std::vector<std::string>& path, PROPSET* set);
  // The stored form of a node.
  static std::string stored_form(const VocabItemObj& node);

 private:
  void set_default_tree();
  VocabItemObj root_;
};

}  // namespace cw
