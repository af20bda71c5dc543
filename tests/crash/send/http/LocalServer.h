#pragma once
// A test server process on 127.0.0.1: started with its arguments, ready once it printed
// "PORT <n>", killed when the object goes. Every wait is bounded.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

class LocalServer
{
public:
    LocalServer(const QString& program, const QStringList& arguments, const QStringList& environment = {});
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    bool ready() const { return m_port > 0; }
    int port() const { return m_port; }
    QString errors() const { return m_errors; }

private:
    QProcess m_process;
    int m_port = 0;
    QString m_errors;
};

} // namespace testsupport
