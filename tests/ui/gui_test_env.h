// GUI test helpers: one QApplication for the test process (offscreen) with a private session
// bus, controls found by their accessible names, and a dialog answerer that deals with the
// modal dialogs a window opens while the test waits in a click, one after another, as a user
// would.
#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>

namespace cw::test {

// The control with this accessible name below `root` (null when there is none).
template <typename T>
T* find_named(QWidget* root, const QString& name) {
  for (T* w : root->findChildren<T*>())
    if (w->accessibleName() == name) return w;
  return nullptr;
}

// Clicks the named button below `root`; false when there is none or it is disabled.
bool click_named(QWidget* root, const QString& name);

// Each answer is given the modal dialog on top and returns true once it has dealt with it
// (false: not yet, ask again shortly). A modal dialog no answer is waiting for is recorded in
// `unexpected` (its text) and closed; the ingestion monitor is left alone while no answer
// waits, since it runs by itself.
class DialogAnswerer {
 public:
  DialogAnswerer();
  ~DialogAnswerer();
  void then(std::function<bool(QWidget*)> answer) { answers_.push_back(std::move(answer)); }
  bool done() const { return answers_.empty(); }
  QStringList unexpected;

 private:
  void poll();
  std::deque<std::function<bool(QWidget*)>> answers_;
  class QTimer* timer_;
  bool pending_ = false;
};

// Runs the event loop until `done` holds or `ms` have passed.
bool wait_for(const std::function<bool()>& done, int ms = 20000);

// The address of the test process's own session bus: a dbus-daemon started for the GUI tests,
// so that what the program sends to the desktop (its notifications) reaches this bus and never
// the desktop of whoever runs the tests. Empty when dbus-daemon is not installed; the process
// then has no session bus at all.
const std::string& session_bus_address();

}  // namespace cw::test
