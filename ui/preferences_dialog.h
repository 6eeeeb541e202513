// "Preferences": the program's global preferences, each shown with its default, with a button
// that puts every default back. OK stores them; a change of the logging switch is applied and
// noted in the run log, a changed catalogue is opened first and used from the next start.
#pragma once

#include <QDialog>
#include <vector>

#include "foundation/user_interface.h"

class QCheckBox;
class QLineEdit;

namespace cw::ui {

class PreferencesDialog : public QDialog {
  Q_OBJECT

 public:
  // Refused values are told through `ui`.
  explicit PreferencesDialog(UserInterface& ui, QWidget* parent = nullptr);
  // Stores what the dialog shows.
  void store();

 private:
  void load(bool defaults);
  UserInterface& ui_;
  std::vector<QCheckBox*> flags_;
  std::vector<QLineEdit*> texts_;
  QLineEdit* catalogue_ = nullptr;
  QString loaded_catalogue_;  // as shown when the dialog opened (password masked)
};

}  // namespace cw::ui
