// CWParam: the settings owner. It holds the quick-field labels, the parameter list of one
// ingestion (filled by the parameter builder), the last ingestion parameter record and the
// eight presets, and carries the rules that tie the presets and the main window together:
// selection with the unsaved-changes reminder, extension-filter edits and cross-field checks.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/param_list.h"
#include "settings/param_record.h"
#include "settings/preset.h"

namespace cw {

// The presets in the owner's order.
enum class PresetKind { Master, Destination, File, Meta, Photog, Content, Rights, Keywords };
inline constexpr int kPresetKinds = 8;
// Quick fields the main window can show.
inline constexpr int kQuickFieldsShown = 8;

class CWParam {
 public:
  CWParam();
  CWParam(const CWParam&) = delete;
  CWParam& operator=(const CWParam&) = delete;

  // Loads the master under its remembered name (which merges the components it names), then
  // each component under the name the master gives it, and rebuilds the quick-field labels.
  void load_presets();

  CWPreset& preset(PresetKind kind) { return *presets[static_cast<int>(kind)]; }
  CWPreset_Master& master() { return static_cast<CWPreset_Master&>(preset(PresetKind::Master)); }
  // The preset with this label ("Master", "File Handling", ...; case ignored), or null.
  CWPreset* find_by_label(const std::string& label);
  // The master's working set (null when the master has none).
  PROPSET* working_set() const;

  // Rebuilds the label list from the Master, Photog, Content and Rights presets, sorted
  // without regard to case.
  void rebuild_quick_fields();
  // Appends the overflow notes for more than kQuickFieldsShown labels to `results` and shows
  // the alert; false when there were too many.
  bool quick_fields_fit(std::string& results) const;

  // Selects a preset by name as the main window does: needs a Yes from `answers` to "You have
  // one or more unsaved presets. OK to lose settings?" first when the preset has unsaved
  // changes and the "PresetReminder" preference is on; a component's values then reach the
  // working set and the master remembers its name. False when cancelled or the set could not
  // be read.
  bool select(PresetKind kind, const std::string& name, const PresetAnswers& answers);
  // Marks a preset edited; a component also marks the master.
  void mark_unsaved(PresetKind kind);
  // The master may be saved only when file handling, metadata and keywords are saved.
  bool master_save_allowed() const;

  // Stores an extension filter entered by the user at the front of "ExtensionsMRU".
  bool store_extension_filter(bool include, const std::string& extensions);

  // Cross-field rules of the main window. Each returns false when it had to refuse or undo.
  bool switch_keep_raw_on();      // "KeepRaw" switched on
  bool switch_want_backup_off();  // "WantBackup" switched off
  // "WantBackupPost" switched on: the post-conversion backup copies what the second copy puts
  // into the primary tree, so there is none without a pre-conversion backup.
  bool switch_want_backup_post_on();
  bool check_applied_master();    // after a master preset was applied
  // The folder name offered for an empty backup folder.
  static const char* default_backup_folder(bool post_conversion);

  // Prints the ingestion summary to the text pane, stores "LastDB_Ingestion" in the master's
  // working set and fills the 31 entries of `params` from the master preset and the request.
  // False (after an alert) when the metadata template or develop settings path is too long;
  // the ingestion must then not start.
  bool build(const BuildRequest& request);
  // Builds the ingestion parameter record from `params` into `record_text`, hands it to
  // `store` for ingestion `ingestion_key` and writes it to the run log. Does nothing and
  // returns false when the preference "WantIngestionDetails" is 0.
  bool record(int ingestion_key, const RecordStore& store);

  // State, in the owner's order.
  std::vector<std::string> quick_field_labels;
  ParamList params;  // filled by build (settings/param_record.h); 31 entries after it
  const char* const* param_labels = nullptr;
  std::string record_text;  // the last ingestion parameter record
  std::array<std::unique_ptr<CWPreset>, kPresetKinds> presets;

 private:
  bool switch_on_with_backup(const char* key, const char* message);
};

// Sets the property store's root to the per-user folder `root` (creating it); on failure
// shows "PropInit failed (<root>) [<reason>]" and returns false.
bool open_settings_store(const std::string& root);

// The preset kind of a category name ("Preset_File"), or none.
std::optional<PresetKind> kind_of_category(const std::string& category);

}  // namespace cw
