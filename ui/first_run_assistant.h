// The first-run assistant: the pages a new user goes through before the first ingestion. The
// archive folder and the backup folder, the file names of the copies (with what the first
// image of the card in the reader, or a sample camera file, would be called), the creator and
// the copyright notice. Finish saves them with the same control call as `cardwright init`, so
// both leave the same settings behind; Cancel saves nothing.
//
// The main window opens it when the program starts on built-in defaults without an archive,
// and when Start finds no archive folder.
#pragma once

#include <QWizard>
#include <optional>
#include <string>

#include "control/settings_setup.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace cw {
class AppSession;
}

namespace cw::ui {

class FirstRunAssistant : public QWizard {
  Q_OBJECT

 public:
  // `card`: the image folder of the card in the reader, whose first image the name example
  // shows; empty for none.
  FirstRunAssistant(AppSession& session, const std::string& card, QWidget* parent = nullptr);

  // The set-up as the pages hold it.
  ArchiveSetup setup() const;
  // The image the name example is made from (none: the sample), once the card has been read.
  const std::optional<std::string>& example_image() const { return example_image_; }

  void accept() override;

 Q_SIGNALS:
  // The card has been read and the example shows its first image (or the sample).
  void example_ready();

 private:
  QWizardPage* folders_page();
  QWizardPage* names_page();
  QWizardPage* people_page();
  void browse(QLineEdit* edit, const char* title);
  void update_example();

  AppSession& session_;
  std::optional<std::string> example_image_;
  QLineEdit *archive_ = nullptr, *backup_ = nullptr, *creator_ = nullptr, *copyright_ = nullptr;
  QComboBox* name_format_ = nullptr;
  QLabel *example_ = nullptr, *example_source_ = nullptr;
};

// Runs the assistant over `parent`; true when the set-up was saved.
bool run_first_run_assistant(AppSession& session, const std::string& card, QWidget* parent);

}  // namespace cw::ui
