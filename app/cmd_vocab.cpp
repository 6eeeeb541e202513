// `cardwright vocab`: show and edit the keyword vocabulary of the current master preset. The
// vocabulary is kept by the keywords preset that the master names, which is saved after every
// edit (with its check marks).
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_ui.h"
#include "foundation/log.h"
#include "platform/paths.h"
#include "settings/param.h"
#include "settings/preset_edit.h"
#include "settings/preferences.h"
#include "settings/vocabulary.h"

namespace cw::app {

namespace {

constexpr const char* kName = "vocab";

// Keeps the check marks when the keywords preset is saved.
class VocabUserInterface : public ConsoleUserInterface {
 public:
  bool ask_yes_no(const std::string& question) override {
    return question == "Include checkmarks in preset?" || ConsoleUserInterface::ask_yes_no(question);
  }
};

std::vector<std::string> split_path(const std::string& path) {
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
  PROPSET* working = param.working_set();
  Vocabulary vocab;
  vocab.load(working);
  const std::string& verb = args[0];
  if (verb == "show") {
    if (args.size() != 1) return usage_error(kName, "show takes no arguments");
    print_tree(vocab.root());
    return 0;
  }
  const std::size_t want = verb == "add" ? 3 : 2;
  if (args.size() != want)
    return usage_error(kName, verb == "add" ? "add takes PATH TEXT" : verb + " takes PATH");
  VocabItemObj* node = vocab.find(split_path(args[1]));
  if (!node || node == &vocab.root())
    return failure(kName, "no entry \"" + args[1] + "\" ('cardwright vocab show' shows them)");
  if (verb == "add") {
    if (args[2].empty()) return usage_error(kName, "TEXT is empty");
    VocabItemObj* item = vocab.add_child(*node, working);
    vocab.rename(*item, args[2], working);
  } else if (verb == "delete") {
    if (!vocab.remove(*node, working)) return failure(kName, "a heading can't be deleted");
  } else {
    if (node->level < 2) return failure(kName, "a heading has no check mark");
    vocab.set_checked(*node, verb == "check", working);
  }
  return save_vocabulary(param) ? 0 : 1;
}

int run_vocab(const CommandSpec&, Args& a) {
  if (a.words.empty()) return usage_error(kName, "a command is required (show, add, check, ...)");
  VocabUserInterface ui;
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
