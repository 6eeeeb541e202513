// The front end's side of reporting: where alerts, the text pane, the status text and
// questions go.
//
// The engine never shows anything itself: it calls alert_printf / ui_print (log.h), which the
// log hands to the front end its program installed (set_log_front_end), and it asks nothing.
// Questions are put by control/ to the user interface its session was given: the command-line
// program prints and prompts on the terminal, the desktop program shows message boxes and its
// text pane, tests give a capturing fake.
//
// Threads. alert, pane_append and set_status may be called from any thread, ingestion
// threads included, and from several at once: an implementation either does the work
// thread-safely (the console writes under a lock) or hands the call over to its own thread
// (the desktop program queues a signal to its window) and returns. The questions (ask_yes_no,
// ask_text, choose_folder, choose_from_list) are asked only on the front end's own thread:
// the engine's threads never ask, they report and stop.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cw {

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal message with an OK button.
  virtual void alert(const std::string& text) = 0;
  // Text appended at the end of the main window's text pane.
  virtual void pane_append(const std::string& text) = 0;
  // The main window's one-line status text ("Copying images", "Successful ingestion").
  virtual void set_status(const std::string& text) { (void)text; }
  // A Yes/No question; true for Yes.
  virtual bool ask_yes_no(const std::string& question) = 0;
  // A line of text (a new name, say); nothing when the user cancels.
  virtual std::optional<std::string> ask_text(const std::string& prompt,
                                              const std::string& initial) = 0;
  // A folder chosen by the user; nothing when cancelled.
  virtual std::optional<std::string> choose_folder(const std::string& title,
                                                   const std::string& start) = 0;
  // One of `choices` (its index), offered under `title` with the explanation `text`; nothing
  // when the user closed the question without choosing.
  virtual std::optional<int> choose_from_list(const std::string& title, const std::string& text,
                                              const std::vector<std::string>& choices) = 0;
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
  std::optional<int> choose_from_list(const std::string& title, const std::string& text,
                                      const std::vector<std::string>& choices) override;
};

// Makes `ui` the front end that shows the log's alerts and text-pane lines (log.h; not owned;
// nullptr: the headless behaviour) and returns the one it replaces. The program's session
// installs its front end for as long as it lives. Nothing else reaches a front end except
// through the session that was given it.
UserInterface* set_log_front_end(UserInterface* ui);

}  // namespace cw
