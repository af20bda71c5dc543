#include "platform/ChildProgram.h"

#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <chrono>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace platform {

QString FindProgram(const QString& name)
{
    return QStandardPaths::findExecutable(name);
}

ProgramOutput RunProgramForOutput(const QString& program, const QStringList& arguments, int timeoutMs)
{
    ProgramOutput result;
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(timeoutMs))
        return result;
    result.started = true;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.standardOutput = process.readAllStandardOutput();
    return result;
}

StartOutcome StartAndWatch(const QString& program, const QStringList& arguments, int watchMs)
{
    std::vector<QByteArray> storage;
    storage.push_back(program.toLocal8Bit());
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return StartOutcome::StartFailed;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(watchMs);
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? StartOutcome::ExitedWithSuccess
                                                                  : StartOutcome::ExitedWithFailure;
        }
        if (done < 0 && errno != EINTR)
            return StartOutcome::ExitedWithFailure;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The composer stays open for the user; a thread of its own collects it so no zombie remains.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return StartOutcome::StillRunning;
}

bool StartDetached(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

} // namespace platform
