// A helper process that must not outlive the process that started it.
#include "platform/ProcessControl.h"

#include <QFile>
#include <QThread>
#include <csignal>
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
