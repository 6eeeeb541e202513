// The preset family: base commands, typed access, the master's merge of its components and
// the kinds' overrides for saving.
#include "settings/preset.h"

#include <strings.h>

#include <cstdlib>

#include "foundation/log.h"
#include "foundation/text.h"
#include "settings/param.h"
#include "settings/preferences.h"

namespace cw {

namespace {

bool same_text(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

bool is_save(const std::string& text) { return text == "Save" || text == "Save As..."; }

// Longest vocabulary line kept when check marks are cleared on save.
constexpr std::size_t kVocabularyLineMax = 1999;
// Quick-field labels of this length or more are ignored.
constexpr std::size_t kQuickLabelMax = 100;

}  // namespace

// ---------------------------------------------------------------- base

CWPreset::CWPreset(const char* category_, const char* label_, CWParam* owner_)
    : category(category_), label(label_), owner(owner_) {
  set = propset_alloc(category, std::nullopt);
  name = remembered_name();
}

CWPreset::~CWPreset() = default;

PROPSET* CWPreset::working_set() const {
  return owner ? owner->working_set() : nullptr;
}

std::string CWPreset::remembered_name() const {
  std::string n = pref_get_text(category).substr(0, kPresetNameMax);
  return n.empty() ? kDefaultName : n;
}

void CWPreset::remember_name(const std::string& n) {
  name = n.substr(0, kPresetNameMax);
  if (remember) pref_put_text(category, name);
}

std::vector<std::string> CWPreset::names() const {
  std::vector<std::string> out;
  std::optional<std::string> n;
  for (int i = 0; propset_getname(category, i, n) && n; ++i) out.push_back(*n);
  return out;
}

bool CWPreset::exists(const std::string& n) const { return propset_exists(category, n); }

void CWPreset::reset_set() {
  set = propset_alloc(category, std::nullopt);
  set_defaults();
}

void CWPreset::set_defaults() {}

void CWPreset::apply() {}

std::string CWPreset::extensions(bool& include) {
  alert_printf("CWPreset::extensions not implemented");
  include = false;
  return "";
}

bool CWPreset::load(const std::optional<std::string>& n) {
  const std::string want = n.value_or(kDefaultName);
  set.reset();
  if (propset_exists(category, want)) set = propset_get(category, want);
  if (set) return true;
  if (want != kDefaultName) alert_printf("Can't read preset \"%s\". Default assumed.", want.c_str());
  reset_set();
  return false;
}

int CWPreset::get_int(const std::string& key, int def) const {
  if (!set) {
    alert_printf("Preset error - not initialized (CWParam-9)");
    return 0;
  }
  const PROPVAL* v = prop_get(set.get(), key, 0);
  if (!v) return def;
  return v->type == kPropStr ? std::atoi(v->strval.c_str()) : v->intval;
}

std::optional<std::string> CWPreset::get_str(const std::string& key,
                                             const std::optional<std::string>& def) const {
  if (!set) {
    alert_printf("Preset error - not initialized (CWParam-10)");
    return std::nullopt;
  }
  return PropGetStr(set.get(), key, 0, def);
}

int CWPreset::get_int(const std::string& key) const {
  const PresetKey* k = find_preset_key(key);
  return get_int(key, k ? k->int_default : 0);
}

std::optional<std::string> CWPreset::get_str(const std::string& key) const {
  const PresetKey* k = find_preset_key(key);
  if (k && !k->text_default) return get_str(key, std::nullopt);
  return get_str(key, std::string(k ? k->text_default : ""));
}

bool CWPreset::put_int(const std::string& key, int value) {
  if (!set) {
    alert_printf("Preset error - not initialized (CWParam-11)");
    return false;
  }
  return PropPutInt(set.get(), key, 0, value);
}

bool CWPreset::put_str(const std::string& key, const std::string& value) {
  if (!set) {
    alert_printf("Preset error - not initialized (CWParam-12)");
    return false;
  }
  return PropPutStr(set.get(), key, 0, value.c_str());
}

std::optional<std::string> CWPreset::ask_name(const PresetAnswers& answers,
                                             const std::string& initial) {
  auto answer = answers.ask_name(std::string("Name of the ") + label + " preset", initial);
  if (!answer) return std::nullopt;
  std::string n = answer->substr(0, kPresetNameMax);
  if (n.empty()) return std::nullopt;
  // The name is a file name in the category folder; "." names are the store's scratch files.
  if (n[0] == '.' || n.find('/') != std::string::npos) {
    alert_printf("A preset name can't begin with \".\" or contain \"/\".");
    return std::nullopt;
  }
  return n;
}

bool CWPreset::command(const std::string& text, bool& list_changed,
                       const PresetAnswers& answers) {
  return base_command(text, list_changed, answers);
}

bool CWPreset::base_command(const std::string& text, bool& list_changed,
                            const PresetAnswers& answers) {
  list_changed = true;
  if (!set) {
    alert_printf("Preset error - not initialized (CWParam-3)");
    return false;
  }
  if (text == "New..." || text == "Set...") return true;  // the desktop program's editors
  if (text == "Save") {
    if (set->setname) {
      if (!propset_write(set.get())) {
        alert_printf("Preset error - unable to save (CWParam-5)");
        return false;
      }
    } else if (!propset_rename(*set, kDefaultName)) {
      alert_printf("Preset error - unable to save (CWParam-4)");
      return false;
    }
    remember_name(*set->setname);
    unsaved = false;
    return true;
  }
  if (text == "Save As...") {
    auto n = ask_name(answers, "");
    if (!n) {
      list_changed = false;
      return false;
    }
    if (!propset_rename(*set, *n)) {
      alert_printf("Preset error - unable to save (CWParam-6)");
      return false;
    }
    remember_name(*n);
    unsaved = false;
    return true;
  }
  if (text == "Rename...") {
    if (!set->setname) return base_command("Save As...", list_changed, answers);
    const std::string old = *set->setname;
    auto n = ask_name(answers, old);
    if (!n) {
      list_changed = false;
      return false;
    }
    if (!propset_rename(*set, *n)) {
      alert_printf("Preset error - unable to save (CWParam-7)");
      return false;
    }
    remember_name(*n);
    if (*n != old) propset_delete(category, old);
    return true;
  }
  if (text == "Delete") {
    if (!set->setname || *set->setname == kDefaultName) {
      alert_printf("Can't delete Default preset.");
      return false;
    }
    const std::string old = *set->setname;
    if (!answers.confirm(format_limited(1000, "OK to delete preset \"%s\"?", old.c_str()))) {
      list_changed = false;
      return false;
    }
    reset_set();
    bool deleted = propset_delete(category, old);
    remember_name(kDefaultName);
    unsaved = false;
    return deleted;
  }
  if (text.empty()) return true;
  list_changed = false;
  bool ok = load(text);
  remember_name(ok ? text : kDefaultName);
  unsaved = false;
  return ok;
}

void CWPreset::copy_keys(const std::vector<PresetKey>& keys, const PROPSET* from, PROPSET* to) {
  if (!to) return;
  for (const PresetKey& k : keys) {
    switch (k.type) {
      case KeyType::Integer: {
        const PROPVAL* v = prop_get(from, k.key, 0);
        int n = !v ? k.int_default
                   : v->type == kPropStr ? std::atoi(v->strval.c_str()) : v->intval;
        PropPutInt(to, k.key, 0, n);
        break;
      }
      case KeyType::Text: {
        const PROPVAL* v = prop_get(from, k.key, 0);
        if (v && v->type == kPropStr)
          PropPutStr(to, k.key, 0, v->strval.c_str());
        else if (v)
          PropPutStr(to, k.key, 0, std::to_string(v->intval).c_str());
        else if (k.text_default)
          PropPutStr(to, k.key, 0, k.text_default);
        break;
      }
      case KeyType::TextList: {
        // Copied value by value; the first missing, non-text or empty value ends the list.
        PropRemove(to, k.key);
        int i = 0;
        for (const PROPVAL* v; (v = prop_get(from, k.key, i)) && v->type == kPropStr &&
                               !v->strval.empty();
             ++i)
          PropPutStr(to, k.key, i, v->strval.c_str());
        if (i == 0 && k.text_default) PropPutStr(to, k.key, 0, k.text_default);
        break;
      }
    }
  }
}

bool extension_filter_admits(bool include, const std::string& list, const std::string& ext) {
  bool listed = false;
  std::size_t start = 0;
  while (!listed && start < list.size()) {
    std::size_t end = list.find(' ', start);
    if (end == std::string::npos) end = list.size();
    listed = end > start && same_text(list.substr(start, end - start), ext) && ext != "[none]";
    start = end + 1;
  }
  return include == listed;
}

std::optional<std::string> quick_field_label(const std::string& text) {
  static const char kMark[] = "{@qf.";
  const std::size_t mark_len = sizeof kMark - 1;
  std::size_t at = std::string::npos;
  for (std::size_t i = 0; i + mark_len <= text.size(); ++i)
    if (strncasecmp(text.c_str() + i, kMark, mark_len) == 0) {
      at = i;
      break;
    }
  if (at == std::string::npos) return std::nullopt;
  std::size_t begin = at + mark_len;
  while (begin < text.size() && text[begin] == ' ') ++begin;
  std::size_t close = text.find('}', begin);
  if (close == std::string::npos) return std::nullopt;
  std::string label = text.substr(begin, close - begin);
  while (!label.empty() && label.back() == ' ') label.pop_back();
  if (label.empty() || label.size() >= kQuickLabelMax) return std::nullopt;
  return label;
}

void CWPreset::collect_quick_fields(std::vector<std::string>& labels) const {
  if (!set) return;
  for (const PROP& p : set->props) {
    if (p.vals.empty() || p.vals[0].type != kPropStr) continue;
    auto label = quick_field_label(p.vals[0].strval);
    if (!label) continue;
    bool known = false;
    for (const std::string& have : labels) known = known || same_text(have, *label);
    if (!known) labels.push_back(*label);
  }
}

// ---------------------------------------------------------------- master

CWPreset_Master::CWPreset_Master(CWParam* o) : CWPreset("Preset_Master", "Master", o) {}

std::string CWPreset_Master::extensions(bool& include) {
  std::string text = get_str(kExtensionsKey, kDefaultExtensions).value_or(kDefaultExtensions);
  include = text.rfind("Include: ", 0) == 0;
  return text.size() > 9 ? text.substr(9) : "";
}

bool CWPreset_Master::load(const std::optional<std::string>& n) {
  bool ok = CWPreset::load(n);
  PropRemove(set.get(), kVocabularyKey);
  static const std::pair<const char*, const char*> kComponents[] = {
      {"PresetDestination", "Preset_Destination"},
      {"PresetFile", "Preset_File"},
      {"PresetMeta", "Preset_Meta"},
      {"PresetKeywords", "Preset_Keywords"},
  };
  for (const auto& [key, component_category] : kComponents) {
    std::string component = PropGetStr(set.get(), key, 0, kDefaultName).value_or(kDefaultName);
    if (component.empty()) component = kDefaultName;
    PropSetPtr values = propset_exists(component_category, component)
                            ? propset_get(component_category, component)
                            : nullptr;
    if (!values) {
      if (component != kDefaultName)
        alert_printf("Preset error - can't read preset \"%s\" (CWParam-18)", component.c_str());
      continue;  // an empty set would change nothing
    }
    propset_copy(values.get(), set.get());
  }
  return ok;
}

// ---------------------------------------------------------------- destination, file

CWPreset_Group::CWPreset_Group(const char* c, const char* l, const char* mk,
                               const std::vector<PresetKey>& k, CWParam* o)
    : CWPreset(c, l, o), master_key(mk), keys(k) {}

bool CWPreset_Group::command(const std::string& text, bool& list_changed,
                             const PresetAnswers& answers) {
  if (!is_save(text)) return base_command(text, list_changed, answers);
  copy_keys(keys, working_set(), set.get());
  if (!base_command(text, list_changed, answers)) return false;
  PropPutStr(working_set(), master_key, 0, name.c_str());
  apply();
  return true;
}

void CWPreset_Group::apply() { copy_keys(keys, set.get(), working_set()); }

CWPreset_Destination::CWPreset_Destination(CWParam* o)
    : CWPreset_Group("Preset_Destination", "Destination", "PresetDestination",
                     destination_keys(), o) {}

CWPreset_File::CWPreset_File(CWParam* o)
    : CWPreset_Group("Preset_File", "File Handling", "PresetFile", file_keys(), o) {}

// ---------------------------------------------------------------- metadata

CWPreset_Meta::CWPreset_Meta(CWParam* o) : CWPreset("Preset_Meta", "Metadata", o) {}

bool CWPreset_Meta::command(const std::string& text, bool& list_changed,
                            const PresetAnswers& answers) {
  if (!is_save(text)) return base_command(text, list_changed, answers);
  copy_keys(meta_keys(), working_set(), set.get());
  if (!base_command(text, list_changed, answers)) return false;
  PropPutStr(working_set(), "PresetMeta", 0, name.c_str());
  copy_keys(meta_keys(), set.get(), working_set());
  return true;
}

CWPreset_Photog::CWPreset_Photog(CWParam* o) : CWPreset("Preset_Photog", "Photographer", o) {}

CWPreset_Content::CWPreset_Content(CWParam* o) : CWPreset("Preset_Content", "Content", o) {
  set_defaults();
}

void CWPreset_Content::set_defaults() {
  if (!set) return;
  for (const auto& [key, text] : content_defaults())
    if (!prop_get(set.get(), key, 0)) PropPutStr(set.get(), key, 0, text);
}

CWPreset_Rights::CWPreset_Rights(CWParam* o) : CWPreset("Preset_Rights", "Rights", o) {}

// ---------------------------------------------------------------- keywords

CWPreset_Keywords::CWPreset_Keywords(CWParam* o) : CWPreset("Preset_Keywords", "Keywords", o) {}

bool CWPreset_Keywords::command(const std::string& text, bool& list_changed,
                                const PresetAnswers& answers) {
  if (!is_save(text)) return base_command(text, list_changed, answers);
  const bool marks = answers.confirm("Include checkmarks in preset?");
  PROPSET* working = working_set();
  PropRemove(set.get(), kVocabularyKey);
  for (int i = 0; const PROPVAL* v = prop_get(working, kVocabularyKey, i); ++i) {
    if (v->type != kPropStr || v->strval.empty()) continue;
    std::string line = v->strval;
    if (!marks) {
      truncate_to(line, kVocabularyLineMax);
      if (line.size() >= 3) line[2] = ' ';
    }
    PropPutStr(set.get(), kVocabularyKey, -1, line.c_str());
  }
  if (!base_command(text, list_changed, answers)) return false;
  PropPutStr(working, "PresetKeywords", 0, name.c_str());
  PropRemove(working, kVocabularyKey);
  for (int i = 0; const PROPVAL* v = prop_get(set.get(), kVocabularyKey, i); ++i)
    PropPutStr(working, kVocabularyKey, i, v->strval.c_str());
  return true;
}

}  // namespace cw
