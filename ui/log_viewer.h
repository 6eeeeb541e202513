// "View Log": the run log in a window of the program, read-only, in a fixed-width font. It
// opens at the log's end and follows the lines written while it is open (unless the reader
// scrolled up to read something), finds text, and hands the log to the user's editor when
// there is one. A machine without a desktop opener still shows its log here.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "control/viewer.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace cw {
class LogFollower;
}

namespace cw::ui {

class LogViewer : public QDialog {
  Q_OBJECT

 public:
  // How often the log is read for new lines while the window is open.
  static constexpr int kFollowMs = 1000;

  // `launch` starts the editor ("Open in Editor").
  LogViewer(const std::string& log_path, ProgramLauncher launch, QWidget* parent = nullptr);
  ~LogViewer() override;

  // Reads the lines written since the last read now (the timer does this every kFollowMs).
  void follow();
  // Finds `text` after the cursor (before it with `backward`), from the other end when the
  // search reaches one; false, with a note under the log, when the log does not hold it.
  bool find(const QString& text, bool backward = false);
  QString text() const;

 Q_SIGNALS:
  // The log has been read for the first time and is shown at its end.
  void loaded();

 private:
  void show_lines(const std::string& text, bool restarted, bool cut);

  std::shared_ptr<LogFollower> follower_;
  ProgramLauncher launch_;
  bool loaded_ = false;
  QPlainTextEdit* log_;
  QLineEdit* find_;
  QLabel* note_;
  QPushButton* editor_;
  QTimer* timer_;
};

}  // namespace cw::ui
