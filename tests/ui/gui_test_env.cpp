// GUI test helpers.
#include "tests/ui/gui_test_env.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "tests/common/test_env.h"
#include "tests/fixtures/programs.h"

namespace cw::test {

namespace {

// A session bus of the test process's own: dbus-daemon started by a shell that ends it once
// this process closes the lifeline, the shell's standard input (which also happens when the
// tests crash, so no daemon is left behind).
class PrivateBus {
 public:
  ~PrivateBus() { stop(); }
  // The bus's address; empty when dbus-daemon is missing or did not start.
  std::string start() {
    if (!test::have_program("dbus-daemon")) return {};
    const test::TempDir dir;
    const std::string file = dir / "address";
    shell_ = ::popen(("dbus-daemon --session --nofork --print-address=3 3>" + sh_quote(file) +
                      " </dev/null & read _; kill $!; wait")
                         .c_str(),
                     "we");
    // One line, written at once when the bus is ready.
    for (int i = 0; shell_ && i < 200; ++i) {
      const std::string address = test::read_file(file);
      if (!address.empty() && address.back() == '\n') return address.substr(0, address.size() - 1);
      ::usleep(50 * 1000);
    }
    stop();
    return {};
  }
  void stop() {
    if (shell_) ::pclose(shell_);
    shell_ = nullptr;
  }

 private:
  FILE* shell_ = nullptr;
};

// The application lives for the whole test process, and so does its session bus.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Before the application: Qt connects to the session bus the environment names.
    bus_address_ = bus_.start();
    if (bus_address_.empty())
      ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    else
      ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_address_.c_str(), 1);
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
    bus_.stop();
  }
  const std::string& bus_address() const { return bus_address_; }

 private:
  QApplication* app_ = nullptr;
  PrivateBus bus_;
  std::string bus_address_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

const std::string& session_bus_address() {
  return static_cast<const QtEnvironment*>(registered)->bus_address();
}

bool click_named(QWidget* root, const QString& name) {
  auto* b = find_named<QAbstractButton>(root, name);
  if (!b || !b->isEnabled()) return false;
  QTest::mouseClick(b, Qt::LeftButton);
  return true;
}

DialogAnswerer::DialogAnswerer() : timer_(new QTimer) {
  QObject::connect(timer_, &QTimer::timeout, [this] { poll(); });
  timer_->start(20);
}

DialogAnswerer::~DialogAnswerer() { delete timer_; }

void DialogAnswerer::poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || pending_) return;
  // The answer runs outside this timer's callback: an answer that opens a dialog of its own
  // would otherwise stop the timer until that dialog closes.
  pending_ = true;
  QMetaObject::invokeMethod(
      timer_,
      [this, target = QPointer<QWidget>(modal)] {
        pending_ = false;
        if (!target || target != QApplication::activeModalWidget()) return;
        if (!answers_.empty()) {
          auto answer = std::move(answers_.front());
          answers_.pop_front();
          if (!answer(target)) answers_.push_front(std::move(answer));
          return;
        }
        if (target->accessibleName() == QLatin1String("Ingestion Monitor")) return;
        QString text = target->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(target.data()))
          text += QStringLiteral(": ") + box->text();
        unexpected << text;
        if (auto* dialog = qobject_cast<QDialog*>(target.data()))
          dialog->reject();
        else
          target->close();
      },
      Qt::QueuedConnection);
}

bool wait_for(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(20);
  }
  return true;
}

}  // namespace cw::test
