#include "platform/Processes.h"
#include "support/ScopedPrefix.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
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

TEST(ProcessSnapshot, ListsOnlyTheProcessesOfThePrefixInForce)
{
    testsupport::TempDir dir;
    const QString program = dir.file("KRY.exe");
    ASSERT_TRUE(QFile::copy("/bin/sleep", program));
    const auto startIn = [&](QProcess& child, const QString& prefix) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("WINEPREFIX", prefix);
        child.setProcessEnvironment(environment);
        child.start(program, {"30"});
        return child.waitForStarted(5000);
    };
    QProcess ours, foreign;
    ASSERT_TRUE(startIn(ours, dir.file("prefix")));
    ASSERT_TRUE(startIn(foreign, dir.file("another-prefix")));
    QDir().mkpath(dir.file("prefix"));

    const auto listed = [](qint64 pid) {
        const QList<ProcessEntry> entries = ProcessSnapshot();
        return std::any_of(entries.begin(), entries.end(),
                           [&](const ProcessEntry& e) { return e.pid == pid; });
    };
    {
        // The same folder spelt another way is the same prefix.
        testsupport::ScopedPrefix inPrefix(dir.path() + "/./prefix/");
        EXPECT_TRUE(listed(ours.processId()));
        EXPECT_FALSE(listed(foreign.processId())) << "another prefix is another Windows world";
    }
    {
        testsupport::ScopedPrefix inPrefix(dir.file("another-prefix"));
        EXPECT_FALSE(listed(ours.processId()));
        EXPECT_TRUE(listed(foreign.processId()));
    }
    ours.kill();
    foreign.kill();
    EXPECT_TRUE(ours.waitForFinished(5000));
    EXPECT_TRUE(foreign.waitForFinished(5000));
}

TEST(ProcessHandlers, ReplaceListingAndTerminationUntilRestored)
{
    QList<qint64> asked;
    const ProcessHandlers previous = SetProcessHandlers({[] {
                                                             return QList<ProcessEntry>{{42, "KRY.exe"}};
                                                         },
                                                         [&](qint64 pid) {
                                                             asked.append(pid);
                                                             return true;
                                                         }});
    EXPECT_EQ(ProcessSnapshot().size(), 1);
    EXPECT_TRUE(TerminateProcess(42));
    EXPECT_EQ(asked, QList<qint64>{42});
    SetProcessHandlers(previous);
    EXPECT_FALSE(TerminateProcess(0)) << "the real termination again";
    EXPECT_EQ(asked, QList<qint64>{42});
}
