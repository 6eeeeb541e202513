// Message boxes, the text pane and the question dialogs of the desktop program.
#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QThread>

#include "ui/choice_dialog.h"

namespace cw::ui {

namespace {
constexpr const char* kTitle = "Cardwright";
}

QtUserInterface::QtUserInterface(QObject* parent) : QObject(parent) {}

QString QtUserInterface::display_text(const std::string& text) {
  QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

bool QtUserInterface::on_window_thread() const { return QThread::currentThread() == thread(); }

template <typename F>
auto QtUserInterface::on_window(F&& ask) {
  decltype(ask()) answer{};
  QMetaObject::invokeMethod(
      this, [&] { answer = ask(); }, Qt::BlockingQueuedConnection);
  return answer;
}

void QtUserInterface::show_alert(const QString& text) {
  QMessageBox box(QMessageBox::Information, kTitle, text, QMessageBox::Ok, window_);
  box.setAccessibleName(QStringLiteral("Message"));
  box.exec();
}

void QtUserInterface::alert(const std::string& text) {
  const QString shown = display_text(text);
  if (on_window_thread())
    show_alert(shown);
  else
    QMetaObject::invokeMethod(
        this, [this, shown] { show_alert(shown); }, Qt::QueuedConnection);
}

void QtUserInterface::set_window(QWidget* window) {
  window_ = window;
  has_window_ = true;
}

QString QtUserInterface::take_early_pane() { return std::exchange(early_pane_, QString()); }

void QtUserInterface::pane_append(const std::string& text) {
  // Before the window exists only the start-up writes, on this thread.
  if (!has_window_ && on_window_thread())
    early_pane_ += display_text(text);
  else
    Q_EMIT pane_text(display_text(text));
}

void QtUserInterface::set_status(const std::string& text) {
  Q_EMIT status_text(display_text(text));
}

bool QtUserInterface::ask_yes_no(const std::string& question) {
  if (!on_window_thread()) return on_window([&] { return ask_yes_no(question); });
  QMessageBox box(QMessageBox::Question, kTitle, display_text(question),
                  QMessageBox::Yes | QMessageBox::No, window_);
  box.setAccessibleName(QStringLiteral("Question"));
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtUserInterface::ask_text(const std::string& prompt,
                                                     const std::string& initial) {
  if (!on_window_thread()) return on_window([&] { return ask_text(prompt, initial); });
  QInputDialog dialog(window_);
  dialog.setWindowTitle(kTitle);
  dialog.setAccessibleName(QStringLiteral("Text question"));
  dialog.setLabelText(display_text(prompt));
  dialog.setTextValue(QString::fromStdString(initial));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue().toStdString();
}

std::optional<std::string> QtUserInterface::choose_folder(const std::string& title,
                                                          const std::string& start) {
  if (!on_window_thread()) return on_window([&] { return choose_folder(title, start); });
  // A folder that is gone (the reason for many of these questions) opens at what is left of it.
  QDir near(QString::fromStdString(start));
  while (!near.exists() && near.cdUp()) {
  }
  QFileDialog dialog(window_, QString::fromStdString(title),
                     near.exists() ? near.path() : QString());
  dialog.setAccessibleName(QStringLiteral("Folder chooser"));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

std::optional<int> QtUserInterface::choose_from_list(const std::string& title,
                                                     const std::string& text,
                                                     const std::vector<std::string>& choices) {
  if (!on_window_thread()) return on_window([&] { return choose_from_list(title, text, choices); });
  ChoiceDialog dialog(QString::fromStdString(title), display_text(text), choices, window_);
  return dialog.ask();
}

}  // namespace cw::ui
