// Vocabulary: what the Presets window's keyword tree and `cardwright vocab` do with the keyword
// vocabulary of the current master preset: read it, add, rename, check and delete entries.
// Every edit changes the master's working set and is saved at once, with its check marks,
// into the keywords preset the master names.
#pragma once

#include <string>
#include <vector>

#include "control/settings_access.h"

namespace cw {

enum class VocabularyEdit {
  kSaved,
  kNoEntry,   // the path names no entry
  kHeading,   // a heading can't be deleted and has no check mark
  kNotSaved,  // the keywords preset could not be saved
};

// The names of a vocabulary path, from its heading down: "Keywords/Animals/Dog"; empty names
// (a doubled or trailing "/") are skipped.
std::vector<std::string> vocabulary_path(const std::string& path);

// Reads the vocabulary of the master's working set into `vocabulary`.
void read_vocabulary(const CWParam& param, Vocabulary& vocabulary);

// Edits of a tree read by read_vocabulary, by node (the Presets window).
// Adds an entry at the end of `parent`'s children, named `text` ("NewItem" when empty).
VocabularyEdit add_vocabulary_entry(CWParam& param, Vocabulary& vocabulary,
                                    VocabItemObj& parent, const std::string& text);
// Removes an entry with everything under it.
VocabularyEdit remove_vocabulary_entry(CWParam& param, Vocabulary& vocabulary,
                                       const VocabItemObj& node);
// Gives an entry the text (an empty one keeps the old) and check mark it now shows.
VocabularyEdit change_vocabulary_entry(CWParam& param, Vocabulary& vocabulary,
                                       VocabItemObj& node, const std::string& text, bool checked);
// Keeps which entries are expanded in the working set, without saving the preset: that waits
// for the next edit.
void keep_vocabulary_layout(CWParam& param, const Vocabulary& vocabulary);

// The same edits by path (`cardwright vocab`).
VocabularyEdit add_vocabulary_entry(CWParam& param, const std::string& path,
                                    const std::string& text);
VocabularyEdit remove_vocabulary_entry(CWParam& param, const std::string& path);
VocabularyEdit check_vocabulary_entry(CWParam& param, const std::string& path, bool checked);

}  // namespace cw
