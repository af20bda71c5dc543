// Restarts of crash-test run from a copy of it that a test can replace or lock, as an update or a
// broken installation would: what the new program gets, and a restart that cannot execute.
#include "CrashTestRunner.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <cstdio>

using namespace crashtests;

namespace {

constexpr int kRestarted = 2;

// crash-test copied beside the runner's files, started from there with the runner's settings, in
// which every exception restarts the program.
class CopiedCrashTest
{
public:
    explicit CopiedCrashTest(CrashTestRunner& runner)
        : m_runner(runner), m_program(runner.dir().file("crash-test"))
    {
        m_runner.settings["AutoRestart"] = "1";
        m_copied = QFile::copy(testsupport::BinDir() + "/crash-test", m_program) &&
                   QFile::setPermissions(m_program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    bool copied() const { return m_copied; }
    QString program() const { return m_program; }

    bool start(const QStringList& arguments)
    {
        m_process.setWorkingDirectory(m_runner.dir().path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TMPDIR", m_runner.dir().path());
        m_process.setProcessEnvironment(env);
        m_process.start(m_program, QStringList{"--settings", m_runner.writeSettings()} + arguments);
        return m_process.waitForStarted(10000);
    }
    // The exit code, or -1 when it did not end within a minute.
    int finish()
    {
        if (m_process.waitForFinished(60000))
            return m_process.exitCode();
        m_process.kill();
        m_process.waitForFinished(5000);
        return -1;
    }
    QString errors() { return QString::fromUtf8(m_process.readAllStandardError()); }

private:
    CrashTestRunner& m_runner;
    QString m_program;
    bool m_copied = false;
    QProcess m_process;
};

// Waits up to 30 s for `path` to appear; its text, or empty.
QString WaitForFile(const QString& path)
{
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(path) && waited.elapsed() < 30000)
        QThread::msleep(50);
    return QString::fromUtf8(testsupport::ReadAll(path));
}

} // namespace

TEST(RestartRuns, AnUpdatedProgramRestartsAsTheNewVersionWithOnlyTheStandardDescriptors)
{
    SKIP_UNDER_THREAD_SANITIZER();
    CrashTestRunner runner;
    CopiedCrashTest crashTest(runner);
    ASSERT_TRUE(crashTest.copied());
    // The "new version" lists the descriptors it was started with (ls adds the one it reads with).
    const QString listing = runner.dir().file("descriptors.txt");
    const QString update = runner.dir().write(
        "crash-test.new", QStringLiteral("#!/bin/sh\nls -1 /proc/self/fd > '%1.part'\nmv '%1.part' '%1'\n")
                              .arg(listing)
                              .toUtf8());
    ASSERT_TRUE(QFile::setPermissions(update, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    ASSERT_TRUE(crashTest.start({"exception", "1"}));
    // The update replaces the program file while the old version runs.
    ASSERT_EQ(std::rename(QFile::encodeName(update).constData(),
                          QFile::encodeName(crashTest.program()).constData()),
              0);
    EXPECT_EQ(crashTest.finish(), kRestarted);

    const QString seen = WaitForFile(listing);
    ASSERT_FALSE(seen.isEmpty()) << "the restart did not run the program now at the path it was started from";
    QList<int> descriptors;
    for (const QString& line : seen.split('\n', Qt::SkipEmptyParts))
        descriptors << line.toInt();
    std::sort(descriptors.begin(), descriptors.end());
    EXPECT_EQ(descriptors, (QList<int>{0, 1, 2, 3}))
        << "descriptors the new program got: " << seen.toStdString();
}

TEST(RestartRuns, ARestartThatCannotExecuteTheProgramLetsTheOldProcessGoOn)
{
    SKIP_UNDER_THREAD_SANITIZER();
    CrashTestRunner runner;
    CopiedCrashTest crashTest(runner);
    ASSERT_TRUE(crashTest.copied());
    ASSERT_TRUE(crashTest.start({"exception", "1"}));
    // The program file can no longer be executed (even by root: no execute bit at all).
    ASSERT_TRUE(QFile::setPermissions(crashTest.program(), QFile::ReadOwner | QFile::WriteOwner));

    const int exitCode = crashTest.finish();
    const QString errors = crashTest.errors();
    EXPECT_NE(exitCode, kRestarted) << "ended as restarted although nothing was restarted";
    EXPECT_EQ(exitCode, 0) << "the exception can continue, so the program runs on and quits normally";
    EXPECT_TRUE(errors.contains("the restart failed")) << errors.toStdString();
    CrashRun saved;
    saved.report = QString::fromUtf8(testsupport::ReadAll(runner.reportFile()));
    EXPECT_EQ(saved.reports().size(), 1);
}
