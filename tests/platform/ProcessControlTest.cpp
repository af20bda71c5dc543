// A helper process that must not outlive the process that started it.
#include "platform/ProcessControl.h"

#include "support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Whether process `pid` still runs (a zombie no longer does).
bool Runs(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && text.size() > close + 2 && text[close + 2] != 'Z' && text[close + 2] != 'X';
}

// Forks a starter that forks a helper calling EndWithStartingProcess(); the starter ends
// `starterLivesMs` after the helper's start. Answers the helper's process id.
pid_t StartHelperOfAShortLivedStarter(int starterLivesMs)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t starter = fork();
    if (starter == 0) {
        const pid_t self = getpid();
        const pid_t helper = fork();
        if (helper == 0) {
            if (starterLivesMs == 0)
                usleep(200 * 1000); // the starter is gone before the helper asks
            platform::EndWithStartingProcess(std::uint32_t(self));
            for (int i = 0; i < 100; ++i)
                usleep(100 * 1000); // at most 10 s
            _exit(0);
        }
        (void)!write(fds[1], &helper, sizeof helper);
        usleep(static_cast<useconds_t>(starterLivesMs) * 1000);
        _exit(0);
    }
    close(fds[1]);
    pid_t helper = -1;
    if (read(fds[0], &helper, sizeof helper) != sizeof helper)
        helper = -1;
    close(fds[0]);
    waitpid(starter, nullptr, 0);
    return helper;
}

} // namespace

TEST(ProcessControl, AHelperEndsWithTheProcessThatStartedItEvenWhenThatEndedFirst)
{
    for (const int starterLivesMs : {300, 0}) {
        const pid_t helper = StartHelperOfAShortLivedStarter(starterLivesMs);
        ASSERT_GT(helper, 0);
        bool ended = false;
        for (int i = 0; i < 50 && !ended; ++i) {
            ended = !Runs(helper);
            if (!ended)
                QThread::msleep(100);
        }
        EXPECT_TRUE(ended) << "the helper outlived its starter by 5 s (starter lived " << starterLivesMs
                           << " ms)";
        if (!ended)
            kill(helper, SIGKILL);
    }
}

TEST(ProcessControl, ARestartedProgramDoesNotInheritTheOldOnesDescriptors)
{
    // Runs three times: as the test, as the program that restarts itself while it holds a
    // descriptor without close-on-exec (as libraries open them), and as the restarted program.
    constexpr int kHeldDescriptor = 100;
    const QByteArray phase = qgetenv("SKINTOOL_RESTART_PHASE");
    const QString probe = qEnvironmentVariable("SKINTOOL_RESTART_PROBE");
    if (phase == "old") {
        ASSERT_EQ(dup2(open("/dev/null", O_RDONLY), kHeldDescriptor), kHeldDescriptor);
        qputenv("SKINTOOL_RESTART_PHASE", "new");
        auto held = platform::HeldRestart::start();
        ASSERT_TRUE(held);
        held->release();
        return;
    }
    if (phase == "new") {
        QFile out(probe + ".part");
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(fcntl(kHeldDescriptor, F_GETFD) >= 0 ? "inherited" : "closed");
        out.close();
        QFile::rename(probe + ".part", probe);
        return;
    }
    testsupport::TempDir dir;
    QProcess old;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SKINTOOL_RESTART_PHASE", "old");
    env.insert("SKINTOOL_RESTART_PROBE", dir.file("probe.txt"));
    old.setProcessEnvironment(env);
    old.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=ProcessControl.ARestartedProgramDoesNotInheritTheOldOnesDescriptors"});
    ASSERT_TRUE(old.waitForFinished(60000));
    EXPECT_EQ(old.exitCode(), 0) << old.readAllStandardOutput().toStdString();
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(dir.file("probe.txt")) && waited.elapsed() < 30000)
        QThread::msleep(50);
    EXPECT_EQ(testsupport::ReadAll(dir.file("probe.txt")), QByteArray("closed"));
}
