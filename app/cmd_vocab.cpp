// `cardwright vocab`: show and edit the keyword vocabulary of the current master preset. The
// vocabulary is kept by the keywords preset that the master names, which is saved after every
// edit (with its check marks).
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_ui.h"
#include "control/settings_vocabulary.h"

namespace cw::app {

namespace {

constexpr const char* kName = "vocab";

void print_tree(const VocabItemObj& node) {
  for (const VocabItemObj& child : node.children) {
    std::string indent(2 * static_cast<std::size_t>(child.level - 1), ' ');
    if (child.level == 1)
      std::printf("%s\n", child.text.c_str());
    else
      std::printf("%s[%c] %s\n", indent.c_str(), child.checked ? 'x' : ' ', child.text.c_str());
    print_tree(child);
  }
}

int run(CWParam& param, const std::vector<std::string>& args) {
  const std::string& verb = args[0];
  if (verb == "show") {
    if (args.size() != 1) return usage_error(kName, "show takes no arguments");
    Vocabulary vocabulary;
    read_vocabulary(param, vocabulary);
    print_tree(vocabulary.root());
    return 0;
  }
  const std::size_t want = verb == "add" ? 3 : 2;
  if (args.size() != want)
    return usage_error(kName, verb == "add" ? "add takes PATH TEXT" : verb + " takes PATH");
  if (verb == "add" && args[2].empty()) return usage_error(kName, "TEXT is empty");
  const VocabularyEdit edit = verb == "add"      ? add_vocabulary_entry(param, args[1], args[2])
                              : verb == "delete" ? remove_vocabulary_entry(param, args[1])
                                                 : check_vocabulary_entry(param, args[1], verb == "check");
  switch (edit) {
    case VocabularyEdit::kSaved:
      return 0;
    case VocabularyEdit::kNoEntry:
      return failure(kName, "no entry \"" + args[1] + "\" ('cardwright vocab show' shows them)");
    case VocabularyEdit::kHeading:
      return failure(kName, verb == "delete" ? "a heading can't be deleted"
                                             : "a heading has no check mark");
    case VocabularyEdit::kNotSaved:
      break;
  }
  return 1;
}

int run_vocab(const CommandSpec&, Args& a) {
  if (a.words.empty()) return usage_error(kName, "a command is required (show, add, check, ...)");
  ConsoleUserInterface ui;
  CommandSession session(ui, kSessionSettings);
  return session->settings_ok() ? run(session->settings(), a.words) : 1;
}

}  // namespace

const CommandSpec& vocab_command() {
  static const CommandSpec spec{
      "vocab",
      "show and edit the keyword vocabulary",
      {"COMMAND [PATH] [TEXT]"},
      "Shows and edits the catalog sets and keywords of the current master preset.\n"
      "PATH names an entry from its heading down, separated by \"/\":\n"
      "\"Keywords/Animals/Dog\", \"Catalog Sets/Portfolio\" (case ignored).",
      {
          {"show", "", "the tree; [x] marks the entries chosen for the next ingestion"},
          {"add", "PATH TEXT", "adds TEXT at the end of the entries under PATH"},
          {"check", "PATH", "chooses an entry"},
          {"uncheck", "PATH", "clears an entry's choice"},
          {"delete", "PATH", "removes an entry and everything under it (not a heading)"},
      },
      {},
      {},
      nullptr,
      run_vocab,
  };
  return spec;
}

}  // namespace cw::app
