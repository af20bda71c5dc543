#include "platform/ChildProgram.h"

#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

QString FindProgram(const QString& name)
{
    return QStandardPaths::findExecutable(name);
}

namespace {

// Arguments as the kernel takes them; the arrays point into `storage`.
std::vector<char*> Argv(const QString& program, const QStringList& arguments,
                        std::vector<QByteArray>& storage)
{
    storage.push_back(QFile::encodeName(program));
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return argv;
}

// Collects a child that is left running, so it never stays behind as a zombie.
void ReapLater(pid_t pid)
{
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

// The program gets the three standard streams and nothing else this process holds open (libraries
// open files without close-on-exec; a composer left running would keep them).
void InheritOnlyStandardStreams(posix_spawn_file_actions_t& actions)
{
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
}

} // namespace

// posix_spawn rather than fork: nothing of this process runs in the child before the program.
ProgramOutput RunProgramForOutput(const QString& program, const QStringList& arguments, int timeoutMs)
{
    ProgramOutput result;
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return result;
    std::vector<QByteArray> storage;
    std::vector<char*> argv = Argv(program, arguments, storage);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    InheritOnlyStandardStreams(actions);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    if (error != 0) {
        close(pipeEnds[0]);
        return result;
    }
    result.started = true;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool open = true;
    while (open) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd fd{pipeEnds[0], POLLIN, 0};
        const int ready = poll(&fd, 1, int(left.count()));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
        if (got > 0 && result.standardOutput.size() < 1024 * 1024)
            result.standardOutput.append(buffer, got);
        else if (got == 0 || (got < 0 && errno != EINTR))
            open = false;
    }
    close(pipeEnds[0]);

    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            result.finished = WIFEXITED(status);
            result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return result;
        }
        if (done < 0 && errno != EINTR)
            return result;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            ReapLater(pid);
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

StartOutcome StartAndWatch(const QString& program, const QStringList& arguments, int watchMs)
{
    std::vector<QByteArray> storage;
    std::vector<char*> argv = Argv(program, arguments, storage);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    InheritOnlyStandardStreams(actions);
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
    // The composer stays open for the user.
    ReapLater(pid);
    return StartOutcome::StillRunning;
}

bool StartDetached(const QString& program, const QStringList& arguments)
{
    return StartAndWatch(program, arguments, 0) != StartOutcome::StartFailed;
}

} // namespace platform
