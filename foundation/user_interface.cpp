// The headless front end.
#include "foundation/user_interface.h"

#include <cstdio>

namespace cw {

// One stdio call each, so that lines of threads writing at once do not interleave.
void HeadlessUserInterface::alert(const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
}

void HeadlessUserInterface::pane_append(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

bool HeadlessUserInterface::ask_yes_no(const std::string&) { return false; }

std::optional<std::string> HeadlessUserInterface::ask_text(const std::string&,
                                                           const std::string&) {
  return std::nullopt;
}

std::optional<std::string> HeadlessUserInterface::choose_folder(const std::string&,
                                                                const std::string&) {
  return std::nullopt;
}

std::optional<int> HeadlessUserInterface::choose_from_list(const std::string&, const std::string&,
                                                           const std::vector<std::string>&) {
  return std::nullopt;
}

}  // namespace cw
