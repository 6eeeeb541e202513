// Demonstration records: years of use (clients, their projects and cards, ingestions with
// results and notes) written into a fresh database, so that the Database window can be shown
// in a realistic state for review. The screenshot program is the only caller.
#pragma once

namespace cw {

class AppSession;

// Adds 36 ingestions over the last three years to the session's database (nothing without
// one).
void record_demo_history(AppSession& session);

}  // namespace cw
