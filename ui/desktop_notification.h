// A desktop notification when an ingestion ends, through the session bus's notification
// service. Without a session bus or a notification service nothing is shown and nothing fails.
#pragma once

#include <QString>

namespace cw::ui {

// Sends the notification without waiting for an answer; false when there is no session bus.
bool notify_desktop(const QString& summary, const QString& body);

}  // namespace cw::ui
