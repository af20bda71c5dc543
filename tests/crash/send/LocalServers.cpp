#include "LocalServers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTcpServer>
#include <QThread>
#include <QUdpSocket>

namespace sendtest {

quint16 FreeTcpPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

quint16 FreeUdpPort()
{
    QUdpSocket socket;
    socket.bind(QHostAddress::LocalHost, 0);
    return socket.localPort();
}

QString ServerScript(const QString& name)
{
    return testsupport::SourceDir() + QStringLiteral("/tests/crash/send/servers/") + name;
}

QList<QSslCertificate> TestCertificate::certificates() const
{
    return QSslCertificate::fromPath(certFile);
}

TestCertificate MakeTestCertificate(const testsupport::TempDir& dir)
{
    TestCertificate c{dir.file(QStringLiteral("cert.pem")), dir.file(QStringLiteral("key.pem"))};
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", c.keyFile, "-out", c.certFile,
                   "-days", "2", "-subj", "/CN=localhost", "-addext",
                   "subjectAltName=DNS:localhost,IP:127.0.0.1"});
    openssl.waitForFinished(60000);
    return c;
}

ServerProcess::~ServerProcess()
{
    stop();
}

bool ServerProcess::start(const QString& program, const QStringList& arguments, const QByteArray& readyText,
                          int timeoutMs)
{
    m_process = std::make_unique<QProcess>();
    // Servers tell they are ready on either channel (dnsmasq logs to standard error).
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(program, arguments);
    if (!m_process->waitForStarted(timeoutMs))
        return false;
    if (readyText.isEmpty())
        return true;
    QElapsedTimer timer;
    timer.start();
    while (!m_output.contains(readyText)) {
        if (timer.elapsed() > timeoutMs || m_process->state() == QProcess::NotRunning) {
            m_output += m_process->readAllStandardOutput();
            qWarning("server did not start: %s", m_output.constData());
            return false;
        }
        m_process->waitForReadyRead(200);
        m_output += m_process->readAllStandardOutput();
    }
    return true;
}

QByteArray ServerProcess::output()
{
    if (m_process)
        m_output += m_process->readAllStandardOutput();
    return m_output;
}

void ServerProcess::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_process.reset();
}

LocalSmtpServer::LocalSmtpServer(const SmtpServerConfig& config, const TestCertificate* certificate)
{
    m_port = config.port ? config.port : FreeTcpPort();
    QStringList args{ServerScript(QStringLiteral("smtp_server.py")),
                     "--port",
                     QString::number(m_port),
                     "--out",
                     m_dir.path(),
                     "--lifetime",
                     "300"};
    if (config.implicitTlsPort) {
        m_tlsPort = config.tlsPort ? config.tlsPort : FreeTcpPort();
        args << "--tls-port" << QString::number(m_tlsPort);
    }
    if (certificate)
        args << "--cert" << certificate->certFile << "--key" << certificate->keyFile;
    if (config.startTls)
        args << "--starttls";
    if (!config.auth.isEmpty())
        args << "--auth" << config.auth;
    if (config.oldAuthForm)
        args << "--old-auth";
    for (const QString& r : config.refuse)
        args << "--refuse" << r;
    if (config.greetDelaySeconds > 0)
        args << "--greet-delay" << QString::number(config.greetDelaySeconds);
    // Debian's aiosmtpd imports only under the system interpreter.
    m_running = m_process.start(QStringLiteral("/usr/bin/python3"), args, "ready");
}

QList<ReceivedMail> LocalSmtpServer::mails() const
{
    QList<ReceivedMail> mails;
    for (int n = 1; QFile::exists(m_dir.file(QStringLiteral("%1.json").arg(n))); ++n)
        mails.append(mail(n));
    return mails;
}

ReceivedMail LocalSmtpServer::mail(int number) const
{
    ReceivedMail mail;
    QFile envelope(m_dir.file(QStringLiteral("%1.json").arg(number)));
    if (!envelope.open(QIODevice::ReadOnly))
        return mail;
    mail.envelope = QJsonDocument::fromJson(envelope.readAll()).object();
    const QString eml = m_dir.file(QStringLiteral("%1.eml").arg(number));
    mail.raw = testsupport::ReadAll(eml);
    QProcess decoder;
    decoder.start(QStringLiteral("/usr/bin/python3"),
                  {ServerScript(QStringLiteral("decode_message.py")), eml});
    decoder.waitForFinished(20000);
    mail.decoded = QJsonDocument::fromJson(decoder.readAllStandardOutput()).object();
    return mail;
}

bool LocalSmtpServer::waitForMails(int count, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(m_dir.file(QStringLiteral("%1.json").arg(count)))) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

LocalDnsmasq::LocalDnsmasq(const QStringList& records)
{
    m_port = FreeUdpPort();
    QStringList args{"--keep-in-foreground",
                     "--port=" + QString::number(m_port),
                     "--listen-address=127.0.0.1",
                     "--bind-interfaces",
                     "--no-resolv",
                     "--no-hosts",
                     "--conf-file=/dev/null",
                     "--pid-file=",
                     "--user=root",
                     "--log-facility=-"};
    args += records;
    m_running = m_process.start(QStringLiteral("/usr/sbin/dnsmasq"), args, "started");
}

LocalDnsScript::LocalDnsScript(const QString& address, quint16 port, const QString& mode,
                               const QStringList& extra)
{
    QStringList args{ServerScript(QStringLiteral("dns_server.py")),
                     "--address",
                     address,
                     "--port",
                     QString::number(port),
                     "--mode",
                     mode,
                     "--log",
                     m_dir.file(QStringLiteral("queries.log"))};
    args += extra;
    m_running = m_process.start(QStringLiteral("/usr/bin/python3"), args, "ready");
}

QStringList LocalDnsScript::queriesFrom() const
{
    return QString::fromLatin1(testsupport::ReadAll(m_dir.file(QStringLiteral("queries.log"))))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace sendtest
