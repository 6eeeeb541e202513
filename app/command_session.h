// What every command that works on the user's files sets up first: the front end that shows
// alerts and the text pane, and the run log in the per-user folder (switched by LogV3).
// The front end is uninstalled again when the session ends.
#pragma once

#include <string>

#include "foundation/user_interface.h"

namespace cw::app {

class CommandSession {
 public:
  explicit CommandSession(UserInterface& ui);
  ~CommandSession();
  CommandSession(const CommandSession&) = delete;
  CommandSession& operator=(const CommandSession&) = delete;

  // The per-user folder (created when missing).
  const std::string& user_folder() const { return user_folder_; }

 private:
  std::string user_folder_;
};

}  // namespace cw::app
