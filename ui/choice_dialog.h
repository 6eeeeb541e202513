// A question with a fixed set of answers. Two forms: a row of buttons, one per answer ("Choose
// Backup Folder": Stop Ingestion, Use Previous Folder, Choose Folder...), or, when the last
// answer is "Other...", a list to pick from with OK, Cancel and an "Other..." button (the card
// choice "Ingest from ...").
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

class QListWidget;

namespace cw::ui {

class ChoiceDialog : public QDialog {
  Q_OBJECT

 public:
  ChoiceDialog(const QString& title, const QString& text, const std::vector<std::string>& choices,
               QWidget* parent = nullptr);
  // Runs the dialog; the index of the chosen answer, nothing when it was closed.
  std::optional<int> ask();

 private:
  void choose(int index);
  std::optional<int> chosen_;
  QListWidget* list_ = nullptr;
};

}  // namespace cw::ui
