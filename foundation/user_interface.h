// The front end's side of reporting: where alerts, the text pane and questions go.
//
// The engine never shows anything itself. It calls alert_printf / ui_print (log.h) and asks
// questions through user_interface(); the program that hosts the engine installs the
// implementation: the command-line program prints and prompts on the terminal, the desktop
// program shows message boxes and its text pane, tests install a capturing fake.
#pragma once

#include <optional>
#include <string>

namespace cw {

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal message with an OK button.
  virtual void alert(const std::string& text) = 0;
  // Text appended at the end of the main window's text pane.
  virtual void pane_append(const std::string& text) = 0;
  // A Yes/No question; true for Yes.
  virtual bool ask_yes_no(const std::string& question) = 0;
  // A line of text (a new name, say); nothing when the user cancels.
  virtual std::optional<std::string> ask_text(const std::string& prompt,
                                              const std::string& initial) = 0;
  // A folder chosen by the user; nothing when cancelled.
  virtual std::optional<std::string> choose_folder(const std::string& title,
                                                   const std::string& start) = 0;
};

// Console behaviour without prompts: alerts to stderr, the pane to stdout, every question
// answered No / cancelled. In effect until a front end installs its own.
class HeadlessUserInterface : public UserInterface {
 public:
  void alert(const std::string& text) override;
  void pane_append(const std::string& text) override;
  bool ask_yes_no(const std::string& question) override;
  std::optional<std::string> ask_text(const std::string& prompt,
                                      const std::string& initial) override;
  std::optional<std::string> choose_folder(const std::string& title,
                                           const std::string& start) override;
};

// Installs the front end's implementation (not owned; nullptr restores the headless one).
void set_user_interface(UserInterface* ui);
UserInterface& user_interface();

}  // namespace cw
