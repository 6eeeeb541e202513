// GUI test helpers.
#include "tests/ui/gui_test_env.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace cw::test {

namespace {

// The application lives for the whole test process.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

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
