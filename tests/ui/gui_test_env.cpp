// GUI test helpers.
#include "tests/ui/gui_test_env.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <cstdlib>

#include "tests/common/test_env.h"

extern char** environ;

namespace cw::test {

namespace {

// A session bus of the test process's own: dbus-daemon started by a shell that writes its
// address to a pipe and ends it once this process closes the lifeline, its standard input
// (which also happens when the tests crash, so no daemon is left behind).
class PrivateBus {
 public:
  ~PrivateBus() { stop(); }
  // The bus's address; empty when dbus-daemon is missing or did not start.
  std::string start() {
    if (!test::have_program("dbus-daemon")) return {};
    int out[2], life[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return {};
    if (::pipe2(life, O_CLOEXEC) != 0) {
      ::close(out[0]);
      ::close(out[1]);
      return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, life[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    char shell[] = "sh", c_flag[] = "-c",
         script[] = "dbus-daemon --session --nofork --print-address </dev/null & "
                    "read _; kill $!; wait";
    char* argv[] = {shell, c_flag, script, nullptr};
    const bool spawned = ::posix_spawn(&pid_, "/bin/sh", &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(life[0]);
    lifeline_ = life[1];
    if (!spawned) pid_ = -1;
    std::string address;
    // One line, written at once when the bus is ready.
    pollfd ready{out[0], POLLIN, 0};
    char c = 0;
    while (spawned && ::poll(&ready, 1, 10000) == 1 && ::read(out[0], &c, 1) == 1 && c != '\n')
      address += c;
    ::close(out[0]);
    if (address.empty()) stop();
    return address;
  }
  void stop() {
    if (lifeline_ >= 0) ::close(lifeline_);
    lifeline_ = -1;
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int lifeline_ = -1;
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
