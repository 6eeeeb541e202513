// "Ingestion Monitor": the window over the card monitor. A status line with a blinking
// activity indicator, Stop and Start, eight slot rows (the card's title, its status line in
// the slot's colour, a progress bar with files, rate and time left, the "Ingest" tick box),
// and Eject, Refresh and Close. A 500 ms timer runs the monitor's loop body and shows its
// snapshot; the end of a run happens there, on the window's thread. With a single source the
// window shrinks to its first row and closes itself when the run has ended.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "control/card_monitor.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace cw::ui {

// What the monitor needs from the main window.
struct MonitorHooks {
  // The cards mounted now (Refresh).
  std::function<std::vector<MonitorCard>()> cards;
  // Ejects the cards at these roots off the window's thread, then calls `done` on it.
  std::function<void(const std::vector<std::string>& roots, std::function<void()> done)> eject;
};

class MonitorDialog : public QDialog {
  Q_OBJECT

 public:
  MonitorDialog(CardMonitor& monitor, MonitorHooks hooks, QWidget* parent = nullptr);

  // Single-source mode: slot 0 ingests `source` at once.
  void run_single(const std::string& source);
  // Cards mode: fills the slots with the mounted cards.
  void refresh();
  // Shows the monitor's state now.
  void update_view();
  // The monitor the window runs.
  CardMonitor& monitor() { return monitor_; }

  static QColor colour(const Rgb& rgb, const QPalette& palette);

 protected:
  void reject() override;  // Escape and the window's close button: only while idle

 private:
  struct Row {
    QWidget* box = nullptr;
    QLabel* title = nullptr;
    QLabel* status = nullptr;
    QProgressBar* progress = nullptr;
    QCheckBox* ingest = nullptr;
  };
  void on_tick();
  void on_eject();
  void show_row(Row& row, const SlotView& slot, bool single);

  CardMonitor& monitor_;
  MonitorHooks hooks_;
  QLabel* status_ = nullptr;
  QProgressBar* indicator_ = nullptr;
  QPushButton *stop_ = nullptr, *start_ = nullptr, *eject_ = nullptr, *refresh_ = nullptr,
              *close_ = nullptr;
  std::array<Row, kMonitorSlots> rows_;
  QTimer* timer_ = nullptr;
  bool single_ = false;
  bool ejecting_ = false;
  bool in_tick_ = false;
};

}  // namespace cw::ui
