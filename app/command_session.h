// The session of one command: the program's start-up (control/app_session.h) on the console
// front end, with start-up notices (a template installed, a database repaired) on standard
// error, so that a command's own output on standard output starts with what was asked for.
#pragma once

#include <cstdio>

#include "app/console_ui.h"
#include "control/app_session.h"

namespace cw::app {

class CommandSession {
 public:
  // `pane` is where the text pane goes once the start-up is over.
  CommandSession(ConsoleUserInterface& ui, unsigned steps, std::FILE* pane = stdout)
      : quiet_(ui), session_(ui, steps) {
    ui.set_pane_stream(pane);
  }
  AppSession& operator*() { return session_; }
  AppSession* operator->() { return &session_; }

 private:
  struct PaneOnStderr {
    explicit PaneOnStderr(ConsoleUserInterface& ui) { ui.set_pane_stream(stderr); }
  } quiet_;
  AppSession session_;
};

}  // namespace cw::app
