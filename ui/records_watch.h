// Keeps a window's view of the database current with what other processes change: a command
// line adding a client, another copy of the program renaming a card. The database's change
// counter (control/records.h) is read when the window is activated and every few seconds; when
// it has moved, the window's refresh runs. A refresh that cannot run now (an edit is open)
// says so, and the change stays pending for the next look.
#pragma once

#include <QObject>
#include <functional>
#include <optional>

class QTimer;
class QWidget;

namespace cw {
class AppSession;
}

namespace cw::ui {

class RecordsWatch : public QObject {
  Q_OBJECT

 public:
  // How often the counter is read while the window is open.
  static constexpr int kPollMs = 2000;

  // Watches for `window` (its activation, and its lifetime); `refresh` shows the database
  // again and returns false when it cannot do so now.
  RecordsWatch(AppSession& session, QWidget* window, std::function<bool()> refresh);

  // Reads the counter now and refreshes when it moved (or a change is pending).
  void look();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::optional<long long> counter();

  AppSession& session_;
  std::function<bool()> refresh_;
  std::optional<long long> seen_;
  bool pending_ = false;
  QTimer* timer_;
};

}  // namespace cw::ui
