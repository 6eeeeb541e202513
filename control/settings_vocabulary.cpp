// The keyword vocabulary as the front ends edit it.
#include "control/settings_vocabulary.h"

namespace cw {

namespace {

VocabularyEdit saved(CWParam& param) {
  return save_vocabulary(param) ? VocabularyEdit::kSaved : VocabularyEdit::kNotSaved;
}

// The entry a path names, or null (the root is no entry).
VocabItemObj* entry_at(Vocabulary& vocabulary, const std::string& path) {
  VocabItemObj* node = vocabulary.find(vocabulary_path(path));
  return node == &vocabulary.root() ? nullptr : node;
}

}  // namespace

std::vector<std::string> vocabulary_path(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

void read_vocabulary(const CWParam& param, Vocabulary& vocabulary) {
  vocabulary.load(param.working_set());
}

VocabularyEdit add_vocabulary_entry(CWParam& param, Vocabulary& vocabulary,
                                    VocabItemObj& parent, const std::string& text) {
  PROPSET* working = param.working_set();
  VocabItemObj* item = vocabulary.add_child(parent, working);
  if (!text.empty()) vocabulary.rename(*item, text, working);
  return saved(param);
}

VocabularyEdit remove_vocabulary_entry(CWParam& param, Vocabulary& vocabulary,
                                       const VocabItemObj& node) {
  if (!vocabulary.remove(node, param.working_set())) return VocabularyEdit::kHeading;
  return saved(param);
}

VocabularyEdit change_vocabulary_entry(CWParam& param, Vocabulary& vocabulary,
                                       VocabItemObj& node, const std::string& text, bool checked) {
  PROPSET* working = param.working_set();
  bool ok = true;
  if (text != node.text && !text.empty()) ok = vocabulary.rename(node, text, working);
  if (checked != node.checked) {
    if (node.level < 2) return VocabularyEdit::kHeading;
    ok = vocabulary.set_checked(node, checked, working) && ok;
  }
  return ok ? saved(param) : VocabularyEdit::kNotSaved;
}

void keep_vocabulary_layout(CWParam& param, const Vocabulary& vocabulary) {
  vocabulary.save(param.working_set());
}

VocabularyEdit add_vocabulary_entry(CWParam& param, const std::string& path,
                                    const std::string& text) {
  Vocabulary vocabulary;
  read_vocabulary(param, vocabulary);
  VocabItemObj* node = entry_at(vocabulary, path);
  return node ? add_vocabulary_entry(param, vocabulary, *node, text) : VocabularyEdit::kNoEntry;
}

VocabularyEdit remove_vocabulary_entry(CWParam& param, const std::string& path) {
  Vocabulary vocabulary;
  read_vocabulary(param, vocabulary);
  const VocabItemObj* node = entry_at(vocabulary, path);
  return node ? remove_vocabulary_entry(param, vocabulary, *node) : VocabularyEdit::kNoEntry;
}

VocabularyEdit check_vocabulary_entry(CWParam& param, const std::string& path, bool checked) {
  Vocabulary vocabulary;
  read_vocabulary(param, vocabulary);
  VocabItemObj* node = entry_at(vocabulary, path);
  if (!node) return VocabularyEdit::kNoEntry;
  if (node->level < 2) return VocabularyEdit::kHeading;
  return change_vocabulary_entry(param, vocabulary, *node, node->text, checked);
}

}  // namespace cw
