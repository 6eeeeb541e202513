// The command-line program's front end: alerts on stderr, the text pane on stdout, questions
// asked on the terminal (answered No / cancelled when there is no terminal to ask on).
#pragma once

#include "foundation/user_interface.h"

namespace cw {

// Alerts and the pane go where the headless front end sends them; questions are asked on the
// terminal when there is one.
class ConsoleUserInterface : public HeadlessUserInterface {
 public:
  // assume_yes answers every Yes/No question with Yes (the --yes flag).
  explicit ConsoleUserInterface(bool assume_yes = false) : assume_yes_(assume_yes) {}
  bool ask_yes_no(const std::string& question) override;
  std::optional<std::string> ask_text(const std::string& prompt,
                                      const std::string& initial) override;
  std::optional<std::string> choose_folder(const std::string& title,
                                           const std::string& start) override;

 private:
  bool assume_yes_;
};

}  // namespace cw
