// The command-line program's front end: alerts on stderr, the text pane on stdout (stderr while
// the session starts up, so that start-up notices never mix with a command's output, and with
// --json), questions asked on the terminal and answered No / cancelled when there is none.
// Texts keep their own line breaks, "\r" included; on the way out each "\r\n" or lone "\r" is
// shown as a new line, so that a terminal does not write the rest over the line.
// Writes from several ingestion threads come out whole, one after another.
#pragma once

#include <cstdio>
#include <mutex>

#include "foundation/user_interface.h"

namespace cw {

class ConsoleUserInterface : public UserInterface {
 public:
  // assume_yes answers every Yes/No question with Yes (the --yes flag).
  explicit ConsoleUserInterface(bool assume_yes = false) : assume_yes_(assume_yes) {}

  void alert(const std::string& text) override;
  void pane_append(const std::string& text) override;
  bool ask_yes_no(const std::string& question) override;
  std::optional<std::string> ask_text(const std::string& prompt,
                                      const std::string& initial) override;
  std::optional<std::string> choose_folder(const std::string& title,
                                           const std::string& start) override;
  std::optional<int> choose_from_list(const std::string& title, const std::string& text,
                                      const std::vector<std::string>& choices) override;

  // True when questions can be asked: standard input and standard error are terminals.
  static bool interactive();
  // Where the pane goes (stdout unless changed).
  void set_pane_stream(std::FILE* stream);
  // Runs `write` while no other thread writes to the terminal (the progress line uses it).
  template <typename F>
  void locked(F&& write) {
    std::lock_guard<std::mutex> hold(mutex_);
    write();
  }

 private:
  bool assume_yes_;
  std::FILE* pane_ = stdout;
  std::mutex mutex_;
};

}  // namespace cw
