// "Multiple Folder Selection": the subfolders of one folder in a list from which the user
// selects several and presses Select. The multi-camera shoot and the burn command pick their
// folders with it.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "control/folder_choice.h"

class QListWidget;

namespace cw::ui {

class FolderSelectionDialog : public QDialog {
  Q_OBJECT

 public:
  FolderSelectionDialog(const QString& text, const std::string& parent,
                        const std::vector<std::string>& names, QWidget* owner = nullptr);
  // The names selected, in list order; nothing when the dialog was cancelled.
  std::optional<std::vector<std::string>> ask();

 private:
  QListWidget* list_;
};

// A picker that asks with the dialog, over `owner`, under `text`.
FolderPicker folder_picker(QWidget* owner, const QString& text);

}  // namespace cw::ui
