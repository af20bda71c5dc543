#include "platform/FileManager.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");

// The bus named by the environment now, so a changed address is honoured.
QDBusConnection sessionBus()
{
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty())
        return QDBusConnection::sessionBus();
    return QDBusConnection::connectToBus(address, QStringLiteral("skintool-file-manager ") + address);
}

bool serviceAvailable(const QDBusConnection& bus)
{
    QDBusConnectionInterface* busInterface = bus.interface();
    if (!busInterface)
        return false;
    const QDBusReply<bool> running = busInterface->isServiceRegistered(kService);
    if (running.isValid() && running.value())
        return true;
    const QDBusReply<QStringList> startable = busInterface->activatableServiceNames();
    return startable.isValid() && startable.value().contains(kService);
}

} // namespace

bool FileManagerShowItem(const QString& nativePath)
{
    QDBusConnection bus = sessionBus();
    if (!bus.isConnected() || !serviceAvailable(bus))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, QStringLiteral("/org/freedesktop/FileManager1"), kService, QStringLiteral("ShowItems"));
    const QString uri = QUrl::fromLocalFile(nativePath).toString(QUrl::FullyEncoded);
    call << QStringList{uri} << QString();
    return bus.send(call);
}

bool StartFileManager(const QString& nativePath)
{
    const QFileInfo info(nativePath);
    const QString folder = info.isDir() ? nativePath : info.absolutePath();
    struct Candidate
    {
        const char* program;
        bool selects; // takes "--select <item>"
        bool wantsFolder;
    };
    static const Candidate candidates[] = {{"nautilus", true, false}, {"dolphin", true, false},
                                           {"caja", true, false},     {"nemo", false, false},
                                           {"thunar", false, false},  {"pcmanfm-qt", false, true},
                                           {"pcmanfm", false, true}};
    for (const Candidate& c : candidates) {
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(c.program));
        if (program.isEmpty())
            continue;
        QStringList arguments;
        if (c.selects)
            arguments << QStringLiteral("--select");
        arguments << (c.wantsFolder ? folder : nativePath);
        QProcess process;
        process.setProgram(program);
        process.setArguments(arguments);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        if (process.startDetached())
            return true;
    }
    return false;
}

} // namespace platform
