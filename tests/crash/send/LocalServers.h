#pragma once
// Test servers on 127.0.0.1, each a child process killed when its object goes: the aiosmtpd mail
// server, dnsmasq as a name server, and small Python DNS servers (referrals, garbage).

#include "support/TempDir.h"

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <memory>

namespace sendtest {

// A free TCP (or UDP) port on 127.0.0.1 at the time of asking.
quint16 FreeTcpPort();
quint16 FreeUdpPort();

// A self-signed certificate for 127.0.0.1 and "localhost", made with openssl.
struct TestCertificate
{
    QString certFile;
    QString keyFile;
    QList<QSslCertificate> certificates() const;
};
TestCertificate MakeTestCertificate(const testsupport::TempDir& dir);

// A child process with a bounded start and a certain end.
class ServerProcess
{
public:
    ~ServerProcess();
    // Starts and waits up to `timeoutMs` for `readyText` on standard output (empty: no wait).
    bool start(const QString& program, const QStringList& arguments, const QByteArray& readyText,
               int timeoutMs = 20000);
    QByteArray output();
    void stop();

private:
    std::unique_ptr<QProcess> m_process;
    QByteArray m_output;
};

struct SmtpServerConfig
{
    bool startTls = false;
    bool implicitTlsPort = false;
    QString auth; // "user:password"
    bool oldAuthForm = false;
    QStringList refuse;
    quint16 port = 0;             // 0: a free one
    quint16 tlsPort = 0;          // 0: a free one
    double greetDelaySeconds = 0; // how long each connection waits for the greeting
};

struct ReceivedMail
{
    QJsonObject envelope; // from, to, helo, tls, login, port
    QJsonObject decoded;  // as Python's e-mail parser reads it
    QByteArray raw;
};

class LocalSmtpServer
{
public:
    LocalSmtpServer(const SmtpServerConfig& config, const TestCertificate* certificate = nullptr);
    bool isRunning() const { return m_running; }
    quint16 port() const { return m_port; }
    quint16 tlsPort() const { return m_tlsPort; }
    QList<ReceivedMail> mails() const;
    // Mail `number` (from 1) as received.
    ReceivedMail mail(int number) const;
    // Waits (bounded) until `count` mails arrived.
    bool waitForMails(int count, int timeoutMs = 10000) const;

private:
    testsupport::TempDir m_dir;
    ServerProcess m_process;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    bool m_running = false;
};

// dnsmasq as a plain name server on 127.0.0.1: no daemon, no upstream, only the given records
// ("--mx-host=domain,host,preference" and the like).
class LocalDnsmasq
{
public:
    explicit LocalDnsmasq(const QStringList& records);
    bool isRunning() const { return m_running; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    ServerProcess m_process;
    quint16 m_port = 0;
    bool m_running = false;
};

// dns_server.py on `address`:`port` in a mode with its extra arguments.
class LocalDnsScript
{
public:
    LocalDnsScript(const QString& address, quint16 port, const QString& mode, const QStringList& extra = {});
    bool isRunning() const { return m_running; }
    // "address:port" of every query it received.
    QStringList queriesFrom() const;

private:
    testsupport::TempDir m_dir;
    ServerProcess m_process;
    bool m_running = false;
};

// The server script folder in the source tree.
QString ServerScript(const QString& name);

} // namespace sendtest
