#include "support/SessionBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QThread>

namespace testsupport {

bool WaitUntil(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

PrivateSessionBus::PrivateSessionBus()
{
    m_hadAddress = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
    m_savedAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
        return;
    const QString socket = m_dir.file(QStringLiteral("bus"));
    // No service folders: nothing on this bus starts unless the test registers it.
    const QString config = m_dir.write(
        QStringLiteral("bus.conf"),
        QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                       " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                       "<busconfig><type>session</type><listen>unix:path=%1</listen>\n"
                       "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                       "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
            .arg(socket)
            .toUtf8());
    m_daemon.setProgram(daemon);
    // The daemon prints its address once it accepts connections: the socket's file exists a moment
    // earlier, and a connection made then is refused.
    m_daemon.setArguments({QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                           QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    m_daemon.start();
    if (!m_daemon.waitForStarted(5000))
        return;
    if (!WaitUntil(
            [&] {
                return m_daemon.canReadLine() || (m_daemon.waitForReadyRead(10) && m_daemon.canReadLine());
            },
            5000))
        return;
    m_address = QStringLiteral("unix:path=") + socket;
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (m_hadAddress)
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_savedAddress);
    else
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(3000)) {
            m_daemon.kill();
            m_daemon.waitForFinished(3000);
        }
    }
}

FileManagerStandIn::FileManagerStandIn(const QString& busAddress)
    : m_connectionName(QStringLiteral("file-manager-stand-in ") + busAddress)
{
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, m_connectionName);
    m_registered = bus.isConnected() &&
                   bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), this,
                                      QDBusConnection::ExportAllSlots) &&
                   bus.registerService(QStringLiteral("org.freedesktop.FileManager1"));
}

FileManagerStandIn::~FileManagerStandIn()
{
    QDBusConnection bus(m_connectionName);
    bus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
    QDBusConnection::disconnectFromBus(m_connectionName);
}

QList<QStringList> FileManagerStandIn::waitForCalls(int ms)
{
    const auto before = m_calls.size();
    WaitUntil([&] { return m_calls.size() > before; }, ms);
    return m_calls;
}

void FileManagerStandIn::ShowItems(const QStringList& uris, const QString&)
{
    m_calls.append(uris);
}

} // namespace testsupport
