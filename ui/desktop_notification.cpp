// The notification call.
#include "ui/desktop_notification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace cw::ui {

bool notify_desktop(const QString& summary, const QString& body) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"),
      QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  const int kTimeoutMs = 8000;
  call << QStringLiteral("Cardwright") << 0u << QStringLiteral("cardwright") << summary << body
       << QStringList() << QVariantMap() << kTimeoutMs;
  return bus.send(call);
}

}  // namespace cw::ui
