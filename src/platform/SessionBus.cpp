#include "platform/SessionBus.h"

#include <QDBusConnection>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

void ConnectSessionBus()
{
    // Unset means the desktop's own platform; a list ("wayland;xcb") is tried in order.
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform.startsWith(QLatin1String("xcb")) ||
        platform.startsWith(QLatin1String("wayland")))
        QDBusConnection::sessionBus();
}

bool SessionBusFoundWithoutLauncher()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtimeFolder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtimeFolder.isEmpty())
        return false;
    struct stat status = {};
    const QByteArray socketPath = QFile::encodeName(runtimeFolder + QStringLiteral("/bus"));
    return lstat(socketPath.constData(), &status) == 0 && S_ISSOCK(status.st_mode) &&
           status.st_uid == getuid();
}

HelperThread OpenSessionBusAhead()
{
    if (SessionBusFoundWithoutLauncher())
        return HelperThread(ConnectSessionBus);
    ConnectSessionBus();
    return HelperThread(nullptr);
}

} // namespace platform
