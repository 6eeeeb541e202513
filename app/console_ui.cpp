// Terminal front end for the command-line program.
#include "app/console_ui.h"

#include <unistd.h>

#include <iostream>

#include "foundation/text.h"

namespace cw {

namespace {

std::optional<std::string> read_answer(const std::string& prompt) {
  if (!ConsoleUserInterface::interactive()) return std::nullopt;
  std::fprintf(stderr, "%s", prompt.c_str());
  std::fflush(stderr);
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  return line;
}
// The text with its "\r\n" and lone "\r" line breaks as "\n", and every other control
// character (a card's names, tags and labels may hold escape sequences) shown escaped.
std::string terminal_lines(const std::string& raw) {
  const std::string text = printable_text(raw);
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out += text[i];
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      out += '\n';
    }
  }
  return out;
}

}  // namespace

bool ConsoleUserInterface::interactive() { return isatty(STDIN_FILENO) && isatty(STDERR_FILENO); }

void ConsoleUserInterface::alert(const std::string& text) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::fprintf(stderr, "%s\n", terminal_lines(text).c_str());
  std::fflush(stderr);
}

void ConsoleUserInterface::pane_append(const std::string& text) {
  std::lock_guard<std::mutex> hold(mutex_);
  const std::string lines = terminal_lines(text);
  std::fwrite(lines.data(), 1, lines.size(), pane_);
  std::fflush(pane_);
}

void ConsoleUserInterface::set_pane_stream(std::FILE* stream) {
  std::lock_guard<std::mutex> hold(mutex_);
  pane_ = stream;
}

bool ConsoleUserInterface::ask_yes_no(const std::string& question) {
  if (assume_yes_) return true;
  auto answer = read_answer(terminal_lines(question) + " [y/N] ");
  return answer && !answer->empty() && (answer->front() == 'y' || answer->front() == 'Y');
}

std::optional<std::string> ConsoleUserInterface::ask_text(const std::string& prompt,
                                                          const std::string& initial) {
  auto answer = read_answer(terminal_lines(prompt) +
                            (initial.empty() ? "" : " [" + terminal_lines(initial) + "]") + ": ");
  if (!answer) return std::nullopt;
  if (answer->empty()) return initial;
  return answer;
}

std::optional<std::string> ConsoleUserInterface::choose_folder(const std::string& title,
                                                               const std::string& start) {
  return ask_text(title, start);
}

std::optional<int> ConsoleUserInterface::choose_from_list(const std::string& title,
                                                          const std::string& text,
                                                          const std::vector<std::string>& choices) {
  if (!interactive()) return std::nullopt;
  std::string menu = terminal_lines(title) + "\n";
  if (!text.empty()) menu += terminal_lines(text) + "\n";
  for (std::size_t i = 0; i < choices.size(); ++i)
    menu += "  " + std::to_string(i + 1) + ") " + terminal_lines(choices[i]) + "\n";
  auto answer = read_answer(menu + "Choice (empty to cancel): ");
  if (!answer || answer->empty()) return std::nullopt;
  char* end = nullptr;
  const long n = std::strtol(answer->c_str(), &end, 10);
  if (*end != '\0' || n < 1 || n > static_cast<long>(choices.size())) return std::nullopt;
  return static_cast<int>(n - 1);
}

}  // namespace cw
