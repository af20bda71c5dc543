#include "platform/SessionBus.h"

#include <QDBusConnection>

namespace platform {

void ConnectSessionBus()
{
    // Unset means the desktop's own platform; a list ("wayland;xcb") is tried in order.
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform.startsWith(QLatin1String("xcb")) ||
        platform.startsWith(QLatin1String("wayland")))
        QDBusConnection::sessionBus();
}

} // namespace platform
