// Changes the user confirms first (deleting a record, hiding a client). The database floor
// never asks the user anything: called unconfirmed, such a change checks what it can and,
// instead of changing anything, answers NeedsConfirmation; the caller puts the change's
// question to the user and, on Yes, calls again confirmed.
#pragma once

namespace cw {

enum class ChangeOutcome {
  NeedsConfirmation,  // nothing changed yet; ask, then call again confirmed
  Done,
  Refused,  // refused or failed; an alert said why
};

}  // namespace cw
