// `cardwright preset`: list, show, edit, save, rename, delete and select presets of any kind
// from the shell, through the same commands the main window uses.
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_ui.h"
#include "foundation/log.h"
#include "platform/paths.h"
#include "settings/param.h"
#include "settings/preset_edit.h"
#include "settings/preferences.h"

namespace cw::app {

namespace {

constexpr const char* kName = "preset";

void print_help() {
  std::printf(
      "Usage: cardwright preset COMMAND KIND [ARGUMENTS] [--yes] [--no-checkmarks]\n"
      "Works with the presets kept in the per-user folder (one folder per kind).\n"
      "KIND is Master, Destination, \"File Handling\", Metadata, Photographer, Content,\n"
      "Rights or Keywords (case ignored).\n\n"
      "Commands:\n"
      "  list KIND                  the preset names; \"*\" marks the current one\n"
      "  show KIND [NAME]           the values of a preset (default: the current one; the\n"
      "                             master shows its working set with its components merged)\n"
      "  set KIND NAME KEY VALUE    changes one value and saves the preset NAME (created\n"
      "                             from the current values when it does not exist)\n"
      "  save-as KIND NAME          saves the current preset under a new name\n"
      "  rename KIND [OLD] NEW      renames the current preset (or OLD)\n"
      "  delete KIND NAME           deletes a preset (asks first; --yes answers Yes)\n"
      "  select KIND NAME           makes NAME current; a component is also recorded in the\n"
      "                             current master preset, which is saved\n\n"
      "Options:\n"
      "  --yes            answer Yes to the question before deleting\n"
      "  --no-checkmarks  save keywords without their check marks\n");
}

// The console front end, with the name and the answers given on the command line.
class ScriptedUserInterface : public ConsoleUserInterface {
 public:
  ScriptedUserInterface(bool yes, bool checkmarks)
      : ConsoleUserInterface(yes), checkmarks_(checkmarks) {}
  std::optional<std::string> ask_text(const std::string& prompt,
                                      const std::string& initial) override {
    if (name_) return std::exchange(name_, std::nullopt);
    return ConsoleUserInterface::ask_text(prompt, initial);
  }
  bool ask_yes_no(const std::string& question) override {
    if (question == "Include checkmarks in preset?") return checkmarks_;
    return ConsoleUserInterface::ask_yes_no(question);
  }
  void answer_name(const std::string& n) { name_ = n; }

 private:
  bool checkmarks_;
  std::optional<std::string> name_;
};

void print_set(const PROPSET* set) {
  if (!set) return;
  for (const PROP& p : set->props) {
    // The file's own header lines are not settings.
    if (strcasecmp(p.propname.c_str(), "Version") == 0 || strcasecmp(p.propname.c_str(), "Date") == 0)
      continue;
    for (const PROPVAL& v : p.vals) {
      if (v.type == kPropInt)
        std::printf("%s\t%d\n", p.propname.c_str(), v.intval);
      else
        std::printf("%s\t%s\n", p.propname.c_str(), v.strval.c_str());
    }
  }
}

int run(CWParam& param, ScriptedUserInterface& ui, const std::string& verb, PresetKind kind,
        const std::vector<std::string>& args) {
  CWPreset& p = param.preset(kind);
  bool changed = false;
  if (verb == "list") {
    if (!args.empty()) return usage_error(kName, "list takes only KIND");
    for (const std::string& n : p.names())
      std::printf("%s %s\n", n == p.name ? "*" : " ", n.c_str());
    return 0;
  }
  if (verb == "show") {
    if (args.size() > 1) return usage_error(kName, "show takes KIND [NAME]");
    if (!args.empty()) {
      if (!p.exists(args[0])) {
        std::fprintf(stderr, "cardwright preset: no %s preset \"%s\"\n", p.label, args[0].c_str());
        return 1;
      }
      p.load(args[0]);
    }
    print_set(p.set.get());
    return 0;
  }
  if (verb == "set") {
    if (args.size() != 3) return usage_error(kName, "set takes KIND NAME KEY VALUE");
    std::string why;
    if (!preset_value_allowed(kind, args[1], args[2], why)) return usage_error(kName, why.c_str());
    return set_preset_value(param, kind, args[0], args[1], args[2]) ? 0 : 1;
  }
  if (verb == "save-as") {
    if (args.size() != 1) return usage_error(kName, "save-as takes KIND NAME");
    ui.answer_name(args[0]);
    return p.command("Save As...", changed) ? 0 : 1;
  }
  if (verb == "rename") {
    if (args.empty() || args.size() > 2) return usage_error(kName, "rename takes KIND [OLD] NEW");
    if (args.size() == 2 && !p.command(args[0], changed)) return 1;
    const std::string old = p.set->setname.value_or("");
    ui.answer_name(args.back());
    if (!p.command("Rename...", changed)) return 1;
    return repoint_master(param, kind, old, p.name) ? 0 : 1;
  }
  if (verb == "delete") {
    if (args.size() != 1) return usage_error(kName, "delete takes KIND NAME");
    if (args[0] == kDefaultName) {
      alert_printf("Can't delete Default preset.");
      return 1;
    }
    if (!p.exists(args[0])) {
      std::fprintf(stderr, "cardwright preset: no %s preset \"%s\"\n", p.label, args[0].c_str());
      return 1;
    }
    // Loaded by the preset itself, so that the master's working set stays as stored.
    if (!p.command(args[0], changed)) return 1;
    if (!p.command("Delete", changed)) {
      if (!changed)
        std::fprintf(stderr, "cardwright preset: \"%s\" not deleted (--yes deletes it)\n",
                     args[0].c_str());
      return 1;
    }
    return repoint_master(param, kind, args[0], kDefaultName) ? 0 : 1;
  }
  if (verb == "select") {
    if (args.size() != 1) return usage_error(kName, "select takes KIND NAME");
    if (!param.select(kind, args[0])) return 1;
    if (kind != PresetKind::Master && !save_master(param)) return 1;
    return 0;
  }
  return usage_error(kName, ("unknown command '" + verb + "'").c_str());
}

// The preset of a label, case ignored; "file-handling" and "filehandling" name "File Handling".
CWPreset* find_kind(CWParam& param, const std::string& label) {
  auto squeeze = [](std::string t) {
    std::string out;
    for (char c : t)
      if (c != ' ' && c != '-' && c != '_') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
  };
  for (auto& p : param.presets)
    if (squeeze(p->label) == squeeze(label)) return p.get();
  return nullptr;
}

}  // namespace

int cmd_preset(int argc, char** argv) {
  std::vector<std::string> args;
  bool yes = false, checkmarks = true;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      print_help();
      return 0;
    }
    if (a == "--yes" || a == "-y")
      yes = true;
    else if (a == "--no-checkmarks")
      checkmarks = false;
    else if (a.size() > 1 && a[0] == '-' && a != "-")
      return usage_error(kName, ("unknown option '" + a + "'").c_str());
    else
      args.push_back(a);
  }
  if (args.size() < 2) return usage_error(kName, "COMMAND and KIND are required");
  const std::string verb = args[0];
  ScriptedUserInterface ui(yes, checkmarks);
  CommandSession session(ui, kSessionSettings);
  if (!session->settings_ok()) return 1;
  CWParam& param = session->settings();
  CWPreset* p = find_kind(param, args[1]);
  if (!p) return usage_error(kName, ("unknown kind '" + args[1] + "'").c_str());
  return run(param, ui, verb, *kind_of_category(p->category), {args.begin() + 2, args.end()});
}

}  // namespace cw::app
