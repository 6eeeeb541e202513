// The desktop program's front end for the engine's reports and questions.
//
// Alerts, the text pane and the status text may come from any thread: from the window's
// thread they are handled at once, from an ingestion thread they are queued to the window's
// thread and the call returns. Questions are real dialogs on the window's thread; a question
// from another thread waits there until the window's thread has asked it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "foundation/user_interface.h"

namespace cw::ui {

class QtUserInterface : public QObject, public UserInterface {
  Q_OBJECT

 public:
  explicit QtUserInterface(QObject* parent = nullptr);

  // The window dialogs are shown over (none: free-standing dialogs). Text for the pane that
  // came before there was a window (the start-up's notices) is kept until then.
  void set_window(QWidget* window);
  QString take_early_pane();

  void alert(const std::string& text) override;
  void pane_append(const std::string& text) override;
  void set_status(const std::string& text) override;
  bool ask_yes_no(const std::string& question) override;
  std::optional<std::string> ask_text(const std::string& prompt,
                                      const std::string& initial) override;
  std::optional<std::string> choose_folder(const std::string& title,
                                           const std::string& start) override;
  std::optional<int> choose_from_list(const std::string& title, const std::string& text,
                                      const std::vector<std::string>& choices) override;

  // The engine's texts use "\r" and "\r\n" for line ends; a window shows "\n".
  static QString display_text(const std::string& text);

 Q_SIGNALS:
  void pane_text(const QString& text);
  void status_text(const QString& text);

 private:
  bool on_window_thread() const;
  // Asks on the window's thread, waiting there for the answer (a question from another thread).
  template <typename F>
  auto on_window(F&& ask);
  void show_alert(const QString& text);

  QPointer<QWidget> window_;
  bool has_window_ = false;
  QString early_pane_;
};

}  // namespace cw::ui
