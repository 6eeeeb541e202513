// The preset family: named property sets the user selects, edits, saves, renames and deletes.
//
// The master preset holds the complete working settings; seven component presets each hold
// one group of them (destination, file handling, metadata choice, photographer, content,
// rights, keywords) so that a group can be reused under several masters. Selecting a component
// copies its values into the master's working set; saving one copies them back out. Every
// other module reads settings from the master's working set through the typed accessors.
// The settings never ask the user: a command that needs a name or a Yes is handed the answers
// (PresetAnswers) by its caller; messages go through alert_printf.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "settings/preset_keys.h"
#include "util/proper.h"

namespace cw {

class CWParam;

// The answers a preset command may need from the person who gave it. The caller supplies them
// (control/ asks through the front end); a missing function means "cancelled" / No.
struct PresetAnswers {
  // A preset name, asked with `prompt` and `initial` ("Save As...", "Rename..."); nothing when
  // cancelled.
  std::function<std::optional<std::string>(const std::string& prompt, const std::string& initial)>
      name;
  // Yes to `question` ("OK to delete preset ...?", "Include checkmarks in preset?", the
  // unsaved-presets reminder).
  std::function<bool(const std::string& question)> yes;

  std::optional<std::string> ask_name(const std::string& prompt, const std::string& initial) const {
    return name ? name(prompt, initial) : std::nullopt;
  }
  bool confirm(const std::string& question) const { return yes && yes(question); }
};

// Longest preset name kept (the profile and the name field hold 200 characters).
inline constexpr std::size_t kPresetNameMax = 200;

class CWPreset {
 public:
  CWPreset(const char* category, const char* label, CWParam* owner);
  CWPreset(const CWPreset&) = delete;
  CWPreset& operator=(const CWPreset&) = delete;

  // Adds the quick-field labels used in this preset's values to `labels`.
  virtual void collect_quick_fields(std::vector<std::string>& labels) const;
  virtual ~CWPreset();
  // Carries out a preset command ("Save", "Save As...", "Rename...", "Delete", "New...",
  // "Set...", or a preset name chosen from the list). `list_changed` tells whether the name
  // list needs refreshing. A name or a Yes the command needs comes from `answers`. Returns
  // false when the command failed or was cancelled.
  virtual bool command(const std::string& text, bool& list_changed, const PresetAnswers& answers);
  // Copies this preset's keys into the master's working set (destination, file handling).
  virtual void apply();
  // The master's extension filter: the list of extensions, `include` for an inclusion list.
  virtual std::string extensions(bool& include);
  // Puts default values into a new or emptied set (only the content preset has any).
  virtual void set_defaults();
  // Reads the named set (none means "Default"); false leaves an empty unnamed set.
  virtual bool load(const std::optional<std::string>& name);

  // Typed access at index 0, with the tagged message when the preset has no set.
  int get_int(const std::string& key, int def) const;
  std::optional<std::string> get_str(const std::string& key,
                                     const std::optional<std::string>& def) const;
  // The same with the documented default of the key (0 / "" for keys without one).
  int get_int(const std::string& key) const;
  std::optional<std::string> get_str(const std::string& key) const;
  bool put_int(const std::string& key, int value);
  bool put_str(const std::string& key, const std::string& value);

  // The preset names of the category, in the store's listing order.
  std::vector<std::string> names() const;
  // Makes `n` the current name and, while `remember` is set, stores it in the profile.
  void remember_name(const std::string& n);
  // The name stored in the profile ("Default" when none).
  std::string remembered_name() const;
  // True when a set of this name exists in the category.
  bool exists(const std::string& n) const;

  // Copies the keys of a group between two sets, with each key's default when absent.
  static void copy_keys(const std::vector<PresetKey>& keys, const PROPSET* from, PROPSET* to);

  // The master's working set (null before the owner has a master).
  PROPSET* working_set() const;

  const char* const category;
  const char* const label;
  PropSetPtr set;
  std::string name;  // current name, at most kPresetNameMax characters
  bool remember = true;
  bool unsaved = false;
  CWParam* const owner;

 protected:
  // The base command, without the kind's overrides.
  bool base_command(const std::string& text, bool& list_changed, const PresetAnswers& answers);
  // A name from `answers`; nothing when cancelled or unusable (the user was told why).
  std::optional<std::string> ask_name(const PresetAnswers& answers, const std::string& initial);
  // Takes an empty unnamed set and runs set_defaults.
  void reset_set();
};

class CWPreset_Master : public CWPreset {
 public:
  explicit CWPreset_Master(CWParam* owner);
  std::string extensions(bool& include) override;
  bool load(const std::optional<std::string>& name) override;
};

// Destination and file handling: a group of keys copied to and from the working set.
class CWPreset_Group : public CWPreset {
 public:
  CWPreset_Group(const char* category, const char* label, const char* master_key,
                 const std::vector<PresetKey>& keys, CWParam* owner);
  bool command(const std::string& text, bool& list_changed, const PresetAnswers& answers) override;
  void apply() override;
  const char* const master_key;  // "PresetDestination" or "PresetFile"
  const std::vector<PresetKey>& keys;
};

class CWPreset_Destination : public CWPreset_Group {
 public:
  explicit CWPreset_Destination(CWParam* owner);
};

class CWPreset_File : public CWPreset_Group {
 public:
  explicit CWPreset_File(CWParam* owner);
};

class CWPreset_Meta : public CWPreset {
 public:
  explicit CWPreset_Meta(CWParam* owner);
  bool command(const std::string& text, bool& list_changed, const PresetAnswers& answers) override;
};

class CWPreset_Photog : public CWPreset {
 public:
  explicit CWPreset_Photog(CWParam* owner);
};

class CWPreset_Content : public CWPreset {
 public:
  explicit CWPreset_Content(CWParam* owner);
  void set_defaults() override;
};

class CWPreset_Rights : public CWPreset {
 public:
  explicit CWPreset_Rights(CWParam* owner);
};

class CWPreset_Keywords : public CWPreset {
 public:
  explicit CWPreset_Keywords(CWParam* owner);
  bool command(const std::string& text, bool& list_changed, const PresetAnswers& answers) override;
};

// Whether a file extension (without its dot; case ignored) passes an extension filter: an
// inclusion list admits only its extensions, an exclusion list admits all others. A list of
// "[none]" admits nothing when including and excludes nothing when excluding.
bool extension_filter_admits(bool include, const std::string& list, const std::string& ext);

// The label of a quick field in a macro text: what follows "{@qf." (any case, spaces
// skipped) up to "}", trailing spaces removed; nothing when absent or 100 characters or more.
std::optional<std::string> quick_field_label(const std::string& text);

}  // namespace cw
