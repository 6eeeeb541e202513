// The strip a tool window shows while long work runs off its thread: what is being done, a
// progress bar (moving to and fro when the amount is unknown) and a Cancel button when the
// work can be stopped. Hidden while nothing runs, and during the first moments of work.
#pragma once

#include <QWidget>
#include <atomic>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;

namespace cw::ui {

class WorkPanel : public QWidget {
  Q_OBJECT

 public:
  explicit WorkPanel(QWidget* parent = nullptr);

  // Shows the strip for work described by `text`; with `cancellable` its Cancel button sets
  // the stop flag the work polls.
  void begin(const QString& text, bool cancellable);
  // Done and total so far (total 0: unknown). Any thread may call it.
  void progress(int done, int total);
  void end();
  bool running() const { return running_; }
  // The stop flag, read by the work from its own thread (shared: it outlives the window).
  std::shared_ptr<const std::atomic<bool>> stop_flag() const { return stop_; }

 Q_SIGNALS:
  void cancelled();

 private:
  QLabel* text_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
  std::atomic<int> shown_percent_{-1};
  bool running_ = false;
  int started_ = 0;  // counts begin() calls: a strip shown late belongs to the work still running
};

}  // namespace cw::ui
