// "Macro Lab": the macro laboratory. Whatever the user types in the specification box is
// expanded as the next ingestion would expand it (the current presets, keyword vocabulary,
// database choices and notes) with the laboratory's sample image data, or with the name, date
// and EXIF values of a real image the user picks; unknown macros are named with what they were
// probably meant to be. "Insert Reference" fills the box with every macro beside its name.
// The expansion is the one `cardwright macro` prints.
#pragma once

#include <QDialog>

#include "control/macro_laboratory.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;

namespace cw {
class AppSession;
}

namespace cw::ui {

class MacroLab : public QDialog {
  Q_OBJECT

 public:
  explicit MacroLab(AppSession& session, QWidget* parent = nullptr);

  // Takes the sample data from this image ("" goes back to the laboratory's sample data);
  // false, after a message, when the file cannot be read.
  bool use_image(const QString& path);
  // "Insert Reference".
  void insert_reference();

 private:
  void expand();

  AppSession& session_;
  MacroEnvironment& macros_;  // the session's, with the notes of the next ingestion
  MacroInputs inputs_;
  QPlainTextEdit *specification_, *result_;
  QLabel *sample_, *warning_;
  QCheckBox* xml_;
};

}  // namespace cw::ui
