#include "platform/Processes.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using namespace platform;

TEST(ProcessSnapshot, ListsThisProcessByTheFirstWordOfItsCommandLine)
{
    const qint64 self = QCoreApplication::applicationPid();
    const QList<ProcessEntry> entries = ProcessSnapshot();
    const auto it =
        std::find_if(entries.begin(), entries.end(), [&](const ProcessEntry& e) { return e.pid == self; });
    ASSERT_NE(it, entries.end());
    EXPECT_EQ(QFileInfo(it->exeName).fileName(),
              QFileInfo(QCoreApplication::applicationFilePath()).fileName());

    testsupport::TempDir dir;
    const QString program = dir.file("Program Files/KRY.exe");
    QDir().mkpath(dir.file("Program Files"));
    ASSERT_TRUE(QFile::copy("/bin/sleep", program));
    QProcess child;
    child.start(program, {"30", "1"});
    ASSERT_TRUE(child.waitForStarted(5000));
    const QList<ProcessEntry> later = ProcessSnapshot();
    const auto c = std::find_if(later.begin(), later.end(),
                                [&](const ProcessEntry& e) { return e.pid == child.processId(); });
    ASSERT_NE(c, later.end());
    EXPECT_EQ(c->exeName, program) << "the first word, blanks and all, without the arguments";
    EXPECT_TRUE(TerminateProcess(child.processId()));
    EXPECT_TRUE(child.waitForFinished(5000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
}

TEST(TerminateProcess, RefusesProcessesThatAreGoneAndProcessGroups)
{
    QProcess done;
    done.start("/bin/true");
    ASSERT_TRUE(done.waitForStarted(5000));
    const qint64 pid = done.processId();
    ASSERT_TRUE(done.waitForFinished(5000));
    EXPECT_FALSE(TerminateProcess(pid));
    EXPECT_FALSE(TerminateProcess(0));
    EXPECT_FALSE(TerminateProcess(-1)) << "never every process at once";
}
