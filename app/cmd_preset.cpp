// `cardwright preset`: the keys of each kind of preset, and list, show, edit, save, rename,
// delete and select presets of any kind from the shell, through the same commands the main
// window uses.
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_session.h"
#include "app/commands.h"
#include "app/console_ui.h"
#include "control/settings_presets.h"

namespace cw::app {

namespace {

constexpr const char* kName = "preset";
constexpr const char* kKinds =
    "master destination file-handling metadata photographer content rights keywords";

// The console front end, with the answers given on the command line.
class ScriptedUserInterface : public ConsoleUserInterface {
 public:
  ScriptedUserInterface(bool yes, bool checkmarks)
      : ConsoleUserInterface(yes), checkmarks_(checkmarks) {}
  bool ask_yes_no(const std::string& question) override {
    if (question == "Include checkmarks in preset?") return checkmarks_;
    return ConsoleUserInterface::ask_yes_no(question);
  }

 private:
  bool checkmarks_;
};

// The kind of a label, case, spaces, "-" and "_" ignored: "file-handling" names "File Handling".
std::optional<PresetKind> find_kind(const std::string& label) {
  auto squeeze = [](const std::string& t) {
    std::string out;
    for (char c : t)
      if (c != ' ' && c != '-' && c != '_') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
  };
  for (int k = 0; k < kPresetKinds; ++k)
    if (squeeze(preset_kind_label(static_cast<PresetKind>(k))) == squeeze(label))
      return static_cast<PresetKind>(k);
  return std::nullopt;
}

// `preset keys KIND`: every key with its values, default and meaning.
void print_keys(PresetKind kind) {
  std::printf("Keys of %s presets (cardwright preset set %s NAME KEY VALUE):\n\n",
              preset_kind_label(kind), preset_kind_word(kind).c_str());
  for (const PresetKey* k : preset_keys_of(kind)) {
    std::printf("%s (%s)\n    ", k->key, key_values_text(*k).c_str());
    for (const char* p = k->meaning; *p; ++p) {
      std::fputc(*p, stdout);
      if (*p == '\n') std::printf("    ");
    }
    std::printf("\n");
  }
  if (kind == PresetKind::Master)
    std::printf("qf_LABEL (text)\n    the text of the quick field LABEL ({@qf.LABEL})\n");
}

// `preset show`: every effective setting, tab-separated, "(default)" after a default value.
void print_settings(CWParam& param, PresetKind kind) {
  for (const EffectiveSetting& s : effective_settings(param, kind)) {
    if (s.values.empty()) std::printf("%s\t%s\n", s.key.c_str(), s.is_default ? "\t(default)" : "");
    for (const std::string& v : s.values)
      std::printf("%s\t%s%s\n", s.key.c_str(), v.c_str(), s.is_default ? "\t(default)" : "");
  }
}

int no_such_preset(CWPreset& p, const std::string& name) {
  return failure(kName, std::string("no ") + p.label + " preset \"" + name + "\"" +
                            did_you_mean(name, p.names()) + "; 'cardwright preset list " +
                            preset_kind_word(*kind_of_category(p.category)) + "' lists them");
}

// Warns about unknown macros in a value that is a specification; false under --strict.
bool check_macros(AppSession& session, const std::string& key, const std::string& value,
                  bool strict) {
  const std::optional<std::string> note = unknown_macro_note(session, key, value);
  if (!note) return true;
  std::fprintf(stderr, "%s%s\n", strict ? "" : "Warning: ", note->c_str());
  return !strict;
}

int run(CommandSession& session, ScriptedUserInterface& ui, const std::string& verb,
        PresetKind kind, const std::vector<std::string>& args, bool strict) {
  CWParam& param = session->settings();
  CWPreset& p = param.preset(kind);
  if (verb == "list") {
    if (!args.empty()) return usage_error(kName, "list takes only KIND");
    const std::vector<std::string> names = p.names();
    for (const std::string& n : names) std::printf("%s %s\n", n == p.name ? "*" : " ", n.c_str());
    if (!p.exists(p.name))
      std::printf("* %s (not saved yet: the built-in defaults)\n", p.name.c_str());
    return 0;
  }
  if (verb == "show") {
    if (args.size() > 1) return usage_error(kName, "show takes KIND [NAME]");
    if (!args.empty()) {
      if (!p.exists(args[0])) return no_such_preset(p, args[0]);
      load_preset(param, kind, args[0]);
    }
    print_settings(param, kind);
    return 0;
  }
  if (verb == "set") {
    if (args.size() != 3) return usage_error(kName, "set takes KIND NAME KEY VALUE");
    std::string why;
    if (!preset_value_allowed(kind, args[1], args[2], why)) return usage_error(kName, why);
    if (!check_macros(*session, args[1], args[2], strict)) return 1;
    return save_preset_value(param, ui, kind, args[0], args[1], args[2]) ? 0 : 1;
  }
  if (verb == "save-as") {
    if (args.size() != 1) return usage_error(kName, "save-as takes KIND NAME");
    return save_preset_as(param, ui, kind, args[0]) ? 0 : 1;
  }
  if (verb == "rename") {
    if (args.empty() || args.size() > 2) return usage_error(kName, "rename takes KIND [OLD] NEW");
    if (args.size() == 2 && !p.exists(args[0])) return no_such_preset(p, args[0]);
    const std::optional<std::string> old =
        args.size() == 2 ? std::optional<std::string>(args[0]) : std::nullopt;
    return rename_preset(param, ui, kind, old, args.back()) ? 0 : 1;
  }
  if (verb == "delete") {
    if (args.size() != 1) return usage_error(kName, "delete takes KIND NAME");
    if (args[0] != kDefaultName && !p.exists(args[0])) return no_such_preset(p, args[0]);
    switch (delete_preset(param, ui, kind, args[0])) {
      case PresetDeletion::kDeleted:
        return 0;
      case PresetDeletion::kDeclined:
        return failure(kName, "\"" + args[0] + "\" not deleted (--yes deletes it)");
      case PresetDeletion::kFailed:
        break;
    }
    return 1;
  }
  if (verb == "select") {
    if (args.size() != 1) return usage_error(kName, "select takes KIND NAME");
    if (args[0] != kDefaultName && !p.exists(args[0])) return no_such_preset(p, args[0]);
    return select_preset_for_master(param, ui, kind, args[0]) ? 0 : 1;
  }
  return 2;  // the verbs are checked before
}

int run_preset(const CommandSpec&, Args& a) {
  if (a.words.empty()) return usage_error(kName, "a command is required (list, show, keys, set, ...)");
  const std::string verb = a.words[0];
  if (a.words.size() < 2) return usage_error(kName, verb + " needs KIND: " + kKinds);
  const std::optional<PresetKind> kind = find_kind(a.words[1]);
  if (!kind) {
    std::vector<std::string> kinds;
    for (int k = 0; k < kPresetKinds; ++k) kinds.push_back(preset_kind_word(static_cast<PresetKind>(k)));
    return usage_error(kName, "unknown kind '" + a.words[1] + "'" + did_you_mean(a.words[1], kinds) +
                                  "; the kinds are " + kKinds);
  }
  const std::vector<std::string> rest(a.words.begin() + 2, a.words.end());
  if (verb == "keys") {
    if (!rest.empty()) return usage_error(kName, "keys takes only KIND");
    print_keys(*kind);
    return 0;
  }
  ScriptedUserInterface ui(a.has("yes"), !a.has("no-checkmarks"));
  CommandSession session(ui, kSessionSettings);
  if (!session->settings_ok()) return 1;
  return run(session, ui, verb, *kind, rest, a.has("strict"));
}

}  // namespace

const CommandSpec& preset_command() {
  static const CommandSpec spec{
      "preset",
      "the keys of presets; list, show, set, save, rename, delete and select presets",
      {"COMMAND KIND [ARGUMENTS] [--yes] [--no-checkmarks] [--strict]"},
      "Works with the presets kept in the per-user folder. KIND is master, destination,\n"
      "file-handling, metadata, photographer, content, rights or keywords (case ignored).\n"
      "The master preset holds every setting an ingestion uses; the others each hold a group\n"
      "of them that the master names. Examples:\n"
      "  cardwright preset keys master\n"
      "  cardwright preset set master Default NameFormat '{@datetimeany,1,8}_{@exif.model}'\n"
      "  cardwright preset set photographer Default Creator 'Ann Example'",
      {
          {"keys", "KIND", "every key of the kind: its values, default and meaning", kKinds},
          {"list", "KIND", "the preset names; \"*\" marks the current one", kKinds},
          {"show", "KIND [NAME]", "every setting of a preset, \"(default)\" after default values\n"
                                  "(default: the current preset; the master shows its working\n"
                                  "set with its components merged)", kKinds},
          {"set", "KIND NAME KEY VALUE", "changes one value and saves the preset NAME (created from\n"
                                         "the current values when it does not exist); the rules\n"
                                         "that tie the backup and converter switches apply", kKinds},
          {"save-as", "KIND NAME", "saves the current preset under a new name", kKinds},
          {"rename", "KIND [OLD] NEW", "renames the current preset (or OLD)", kKinds},
          {"delete", "KIND NAME", "deletes a preset (asks first)", kKinds},
          {"select", "KIND NAME", "makes NAME current; a component is also recorded in the\n"
                                  "current master preset, which is saved", kKinds},
      },
      {
          {"yes", nullptr, "answer Yes to the question before deleting", false, nullptr, "delete"},
          {"no-checkmarks", nullptr, "save keywords without their check marks"},
          {"strict", nullptr, "refuse a value that names an unknown macro (default: warn)",
           false, nullptr, "set"},
      },
      {},
      "0 success, 1 failure (no such preset, a rule refused the value, an unknown macro with\n"
      "--strict, not deleted), 2 bad usage (an unknown command, kind or key, a value of the\n"
      "wrong type or range).",
      run_preset,
  };
  return spec;
}

}  // namespace cw::app
