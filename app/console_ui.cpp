// Terminal front end for the command-line program.
#include "app/console_ui.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace cw {

namespace {
bool interactive() { return isatty(STDIN_FILENO) && isatty(STDERR_FILENO); }

std::optional<std::string> read_answer(const std::string& prompt) {
  if (!interactive()) return std::nullopt;
  std::fprintf(stderr, "%s", prompt.c_str());
  std::fflush(stderr);
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  return line;
}
}  // namespace

bool ConsoleUserInterface::ask_yes_no(const std::string& question) {
  if (assume_yes_) return true;
  auto answer = read_answer(question + " [y/N] ");
  return answer && !answer->empty() && (answer->front() == 'y' || answer->front() == 'Y');
}

std::optional<std::string> ConsoleUserInterface::ask_text(const std::string& prompt,
                                                          const std::string& initial) {
  auto answer = read_answer(prompt + (initial.empty() ? "" : " [" + initial + "]") + ": ");
  if (!answer) return std::nullopt;
  if (answer->empty()) return initial;
  return answer;
}

std::optional<std::string> ConsoleUserInterface::choose_folder(const std::string& title,
                                                               const std::string& start) {
  return ask_text(title, start);
}

}  // namespace cw
