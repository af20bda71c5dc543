#include "SendTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace sendtest {

std::shared_ptr<crash::ExceptionReport> MakeReport()
{
    return std::make_shared<crash::ExceptionReport>(
        0, crash::ExceptionType::Exception, QStringList{"Exception"}, QStringLiteral("Exception"),
        QStringLiteral("Not find rcc.exe"), crash::ExceptionSource::ApplicationHandleException, true);
}

QString SampleReportText()
{
    return QStringLiteral("date/time          : 2026-12-07, 11:00:00\r\n"
                          "exception class    : Exception\r\n"
                          "exception message  : Not find rcc.exe.\r\n"
                          "\r\n"
                          "error details:\r\n"
                          "The skin could not be made.\r\n"
                          "\r\n"
                          "main thread ($1f2):\r\n"
                          "0040a1b2 SkinTool.exe uMain 120 TfrmMain.Button_MakeClick");
}

ScopedEnvironment::~ScopedEnvironment()
{
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->second)
            qputenv(it->first.constData(), *it->second);
        else
            qunsetenv(it->first.constData());
    }
}

void ScopedEnvironment::set(const char* name, const QByteArray& value)
{
    std::optional<QByteArray> old;
    if (qEnvironmentVariableIsSet(name))
        old = qgetenv(name);
    m_saved.emplace_back(name, old);
    qputenv(name, value);
}

void ScopedEnvironment::unset(const char* name)
{
    std::optional<QByteArray> old;
    if (qEnvironmentVariableIsSet(name))
        old = qgetenv(name);
    m_saved.emplace_back(name, old);
    qunsetenv(name);
}

MailHandlerSandbox::MailHandlerSandbox(const QString& handlerId, const QString& execArguments)
{
    QDir().mkpath(m_dir.file(QStringLiteral("data/applications")));
    QDir().mkpath(m_dir.file(QStringLiteral("config")));
    QDir().mkpath(tempFolder());
    m_env.set("XDG_DATA_HOME", QFile::encodeName(m_dir.file(QStringLiteral("data"))));
    m_env.set("XDG_CONFIG_HOME", QFile::encodeName(m_dir.file(QStringLiteral("config"))));
    // Only the data folders of this sandbox, so no handler of the machine is found.
    m_env.set("XDG_DATA_DIRS", QFile::encodeName(m_dir.file(QStringLiteral("none"))));
    m_env.set("XDG_CONFIG_DIRS", QFile::encodeName(m_dir.file(QStringLiteral("none"))));
    // xdg-email starts a URL handler only when it sees a display; nothing connects to it.
    m_env.set("DISPLAY", ":97");
    for (const char* desktop :
         {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})
        m_env.unset(desktop);
    m_env.set("TMPDIR", QFile::encodeName(tempFolder()));
    if (handlerId.isEmpty())
        return;
    const QString script = m_dir.write(
        QStringLiteral("record.sh"),
        QStringLiteral(
            "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '%1'\necho -- >> '%1'\n")
            .arg(recordFile())
            .toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_dir.write(QStringLiteral("data/applications/") + handlerId,
                QStringLiteral("[Desktop Entry]\nType=Application\nName=Recorder\nExec=%1 %2\n"
                               "MimeType=x-scheme-handler/mailto;\n")
                    .arg(script, execArguments)
                    .toUtf8());
    QProcess xdgMime;
    xdgMime.start(QStringLiteral("xdg-mime"),
                  {QStringLiteral("default"), handlerId, QStringLiteral("x-scheme-handler/mailto")});
    EXPECT_TRUE(xdgMime.waitForFinished(10000));
    EXPECT_EQ(xdgMime.exitCode(), 0);
}

QList<QStringList> MailHandlerSandbox::calls() const
{
    QFile file(recordFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QStringList> calls;
    QStringList current;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line == "--") {
            calls.append(current);
            current.clear();
        } else if (!line.isEmpty()) {
            current.append(QString::fromUtf8(line));
        }
    }
    return calls;
}

bool MailHandlerSandbox::waitForCalls(int count, int timeoutMs) const
{
    QElapsedTimer timer;
    timer.start();
    while (calls().size() < count) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace sendtest
