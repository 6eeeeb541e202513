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

// Where a kind's values are edited: the master's working set for the master and the groups
// it holds, the preset's own set for the metadata fields.
bool edits_working_set(PresetKind kind) {
  return kind == PresetKind::Master || kind == PresetKind::Destination ||
         kind == PresetKind::File || kind == PresetKind::Meta;
}

// True when KEY is a setting of this kind; `why` says otherwise.
bool key_belongs(PresetKind kind, const std::string& key, std::string& why) {
  auto in_table = [&](const std::vector<PresetKey>& t) {
    for (const PresetKey& k : t)
      if (strcasecmp(k.key, key.c_str()) == 0) return true;
    return false;
  };
  auto in_fields = [&](const std::vector<const char*>& f) {
    for (const char* k : f)
      if (strcasecmp(k, key.c_str()) == 0) return true;
    return false;
  };
  bool ok = false;
  switch (kind) {
    case PresetKind::Master:
      ok = find_preset_key(key) || strncasecmp(key.c_str(), "qf_", 3) == 0;
      break;
    case PresetKind::Destination: ok = in_table(destination_keys()); break;
    case PresetKind::File: ok = in_table(file_keys()); break;
    case PresetKind::Meta: ok = in_table(meta_keys()); break;
    case PresetKind::Photog: ok = in_fields(photog_fields()); break;
    case PresetKind::Content: ok = in_fields(content_fields()); break;
    case PresetKind::Rights: ok = in_fields(rights_fields()); break;
    case PresetKind::Keywords:
      why = "keywords are edited with 'cardwright vocab'";
      return false;
  }
  if (!ok) why = "\"" + key + "\" is not a setting of this kind of preset";
  return ok;
}

// True when VALUE suits the key's type; `why` says otherwise.
bool value_fits(const std::string& key, const std::string& value, std::string& why) {
  const PresetKey* k = find_preset_key(key);
  if (k && k->type == KeyType::Integer) {
    char* end = nullptr;
    std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0') {
      why = std::string(k->key) + " takes a whole number";
      return false;
    }
  }
  if (k && k->type == KeyType::TextList && strncasecmp(value.c_str(), "Include:", 8) != 0 &&
      strncasecmp(value.c_str(), "Exclude:", 8) != 0) {
    why = std::string(k->key) + " takes \"Include: EXT ...\" or \"Exclude: EXT ...\"";
    return false;
  }
  return true;
}

// Stores one value given as text (checked by value_fits), with the key's type.
bool put_value(CWParam& param, PresetKind kind, const std::string& key, const std::string& value) {
  CWPreset& target = edits_working_set(kind) ? param.master() : param.preset(kind);
  const PresetKey* k = find_preset_key(key);
  if (k && k->type == KeyType::Integer)
    return target.put_int(k->key, static_cast<int>(std::strtol(value.c_str(), nullptr, 10)));
  if (k && k->type == KeyType::TextList)
    return param.store_extension_filter(strncasecmp(value.c_str(), "Include:", 8) == 0,
                                        value.substr(8));
  std::string text = value;
  if (strcasecmp(key.c_str(), "CopyrightStatus") == 0 &&
      (value == "Copyrighted" || value == "Public Domain" || value == "Unknown"))
    text = copyright_status_to_stored(value);
  return target.put_str(k ? k->key : key, text);
}

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

// Saves the master's working set under its own name, so that a component choice made from
// the shell lasts.
bool save_master(CWParam& param) {
  bool changed = false;
  return param.master().command("Save", changed);
}

// After a component was renamed or deleted, the current master names its successor, so that
// loading the master does not look for a preset that is gone.
bool repoint_master(CWParam& param, PresetKind kind, const std::string& old,
                    const std::string& now) {
  static const char* const kMasterKeys[kPresetKinds] = {
      nullptr, "PresetDestination", "PresetFile", "PresetMeta",
      "MetaPhotog", "MetaContent", "MetaRights", "PresetKeywords"};
  const char* key = kMasterKeys[static_cast<int>(kind)];
  CWPreset& master = param.master();
  if (!key || old.empty() || !master.set->setname ||
      master.get_str(key, kDefaultName).value_or(kDefaultName) != old)
    return true;
  master.put_str(key, now);
  return save_master(param);
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
    const std::string& name = args[0];
    std::string why;
    if (!key_belongs(kind, args[1], why) || !value_fits(args[1], args[2], why))
      return usage_error(kName, why.c_str());
    if (p.exists(name)) {
      if (!param.select(kind, name)) return 1;
    } else {
      propset_setname(*p.set, name);  // a new preset starts from the current values
    }
    if (!put_value(param, kind, args[1], args[2])) return 1;
    return p.command("Save", changed) ? 0 : 1;
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
