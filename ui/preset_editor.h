// "Presets": the master preset and its component presets. A row at the top chooses, saves,
// saves as, renames and deletes the master; one tab per group of settings (source, destination,
// file handling, metadata, photographer, content, rights, keywords) shows the group's values
// with its own preset row. Edits go into the master's working set (or the metadata preset they
// belong to) at once and mark the preset unsaved; the preset commands are the ones the command
// line's `preset` runs, with their questions asked as dialogs.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "control/settings_access.h"
#include "foundation/user_interface.h"

class QComboBox;
class QTabWidget;

namespace cw::ui {

class VocabularyTree;

class PresetEditor : public QDialog {
  Q_OBJECT

 public:
  // The preset commands ask their questions through `ui`.
  PresetEditor(CWParam& param, UserInterface& ui, QWidget* parent = nullptr);
  // Shows the tab of a group ("Destination", "Keywords", ...).
  void show_tab(const QString& name);

 Q_SIGNALS:
  // Something the main window shows may have changed (names, folders, the master).
  void presets_changed();

 private:
  struct Row {
    PresetKind kind;
    QComboBox* names;
  };
  QWidget* preset_row(PresetKind kind, const QString& label);
  QWidget* group_tab(PresetKind kind, int first_field, int end_field, bool with_row);
  void command(PresetKind kind, const std::string& given);
  void store(PresetKind kind, const std::string& key, const std::string& value);
  void reload();

  CWParam& param_;
  UserInterface& ui_;
  QTabWidget* tabs_;
  std::vector<Row> rows_;
  std::vector<std::function<void()>> loaders_;  // each puts one field's value into its widget
  VocabularyTree* vocabulary_ = nullptr;
  bool loading_ = false;
};

}  // namespace cw::ui
