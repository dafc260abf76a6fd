#include "ui/desktop_notification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace corvane {
namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr int kServerDefaultTimeout = -1;

}  // namespace

void sendDesktopNotification(const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;  // no session bus: nobody to tell
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                       QLatin1String(kService), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("corvane-control"));
    call << QStringLiteral("Corvane Control") << 0u << QStringLiteral("corvane-control") << summary
         << body << QStringList() << hints << kServerDefaultTimeout;
    // Sent without waiting for the reply: the window never waits on the desktop, and a
    // missing service only makes the bus answer with an error nobody reads.
    bus.send(call);
}

}  // namespace corvane
