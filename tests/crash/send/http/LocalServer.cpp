#include "LocalServer.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>

namespace testsupport {

LocalServer::LocalServer(const QString& program, const QStringList& arguments, const QStringList& environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : environment)
        env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    m_process.setProcessEnvironment(env);
    m_process.start(program, arguments);
    QDeadlineTimer deadline(15000);
    QByteArray out;
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(200);
        out += m_process.readAllStandardOutput();
        const int at = out.indexOf("PORT ");
        const int end = out.indexOf('\n', at);
        if (at >= 0 && end > at) {
            m_port = out.mid(at + 5, end - at - 5).trimmed().toInt();
            break;
        }
    }
    if (!m_port)
        m_errors = QString::fromLocal8Bit(out + m_process.readAllStandardError());
}

LocalServer::~LocalServer()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

} // namespace testsupport
