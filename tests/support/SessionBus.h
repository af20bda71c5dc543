#pragma once
// A private D-Bus session bus for one test, and a stand-in for the desktop's file-manager
// service that records what it is asked to show.

#include "support/TempDir.h"

#include <QObject>
#include <QProcess>
#include <QStringList>

namespace testsupport {

class PrivateSessionBus
{
public:
    PrivateSessionBus(); // sets DBUS_SESSION_BUS_ADDRESS while it lives
    ~PrivateSessionBus();
    bool running() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }

private:
    TempDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QByteArray m_savedAddress;
    bool m_hadAddress = false;
};

class FileManagerStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    explicit FileManagerStandIn(const QString& busAddress);
    ~FileManagerStandIn() override;
    bool registered() const { return m_registered; }
    // Processes events until a call arrives or `ms` pass; the URIs of the calls so far.
    QList<QStringList> waitForCalls(int ms);

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId);

private:
    QString m_connectionName;
    bool m_registered = false;
    QList<QStringList> m_calls;
};

// Processes events until `done` holds or `ms` pass.
bool WaitUntil(const std::function<bool()>& done, int ms);

} // namespace testsupport
