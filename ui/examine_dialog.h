// "Examine": the examination report of one image file the user picks: every macro value the
// program would use for it, then its internal structure as the reader sees it. The report is
// the one `cardwright examine` prints; it is built off the window's thread (a large raw file
// takes a while), and Cancel stops waiting for it. The file is only read.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace cw {
class AppSession;
}

namespace cw::ui {

class WorkPanel;

class ExamineDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ExamineDialog(AppSession& session, QWidget* parent = nullptr);

  // Asks for the file to examine (the first thing the window does when opened from the menu).
  void choose_file();
  // Examines `path`; the report replaces the one shown when it is ready.
  void examine(const QString& path);
  QString report() const;

 Q_SIGNALS:
  void examined(bool understood);

 private:
  AppSession& session_;
  int generation_ = 0;
  QLabel* file_;
  QPlainTextEdit* report_;
  WorkPanel* work_;
  QPushButton* choose_;
};

}  // namespace cw::ui
