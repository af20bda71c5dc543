#include "platform/ProcessControl.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform {

void ExitProcessNow(int code) noexcept
{
    _exit(code);
}

namespace {

// How long a released child may take to exec or report why it could not.
constexpr int ExecOutcomeWaitMs = 10000;

// The path this program was started from, made absolute with the folder it started in. Taken as
// the program loads, before anything changes the current folder.
std::string StartedFromPath()
{
    const auto* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (!started || !*started) {
        char exe[4096];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        return n > 0 ? std::string(exe, std::size_t(n)) : std::string();
    }
    if (started[0] == '/')
        return started;
    char folder[4096];
    return getcwd(folder, sizeof folder) ? std::string(folder) + '/' + started : std::string(started);
}

const std::string g_startedFrom = StartedFromPath();

// Every descriptor above the standard three closes at the exec: the new program inherits nothing
// the old one had open. Only async-signal-safe calls (the child of a threaded process runs this).
void CloseAllButStandardOnExec(int highestFd)
{
    if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    for (int fd = 3; fd <= highestFd; ++fd)
        fcntl(fd, F_SETFD, FD_CLOEXEC);
}

int HighestDescriptor()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 65535;
    return int(std::min<rlim_t>(limit.rlim_cur, 1u << 20)) - 1;
}

} // namespace

std::optional<HeldRestart> HeldRestart::start()
{
    // Everything the child needs is prepared before the fork: after it only async-signal-safe calls.
    QFile cmdline(QStringLiteral("/proc/self/cmdline"));
    if (!cmdline.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray raw = cmdline.readAll();
    QList<QByteArray> parts = raw.split('\0');
    if (!parts.isEmpty() && parts.back().isEmpty())
        parts.removeLast();
    if (parts.isEmpty() || g_startedFrom.empty())
        return std::nullopt;
    std::vector<char*> argv;
    for (QByteArray& part : parts)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    const char* program = g_startedFrom.c_str();
    const int highestFd = HighestDescriptor();

    int gate[2];
    if (pipe2(gate, O_CLOEXEC) != 0)
        return std::nullopt;
    int outcome[2];
    if (pipe2(outcome, O_CLOEXEC) != 0) {
        close(gate[0]);
        close(gate[1]);
        return std::nullopt;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        for (const int fd : {gate[0], gate[1], outcome[0], outcome[1]})
            close(fd);
        return std::nullopt;
    }
    if (pid == 0) {
        close(gate[1]);
        close(outcome[0]);
        char go = 0;
        ssize_t r;
        while ((r = read(gate[0], &go, 1)) < 0 && errno == EINTR) {
        }
        if (r != 1)
            _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // The output it inherits may be a pipe that its starter closes when the ending process it
        // started is gone: a write there must fail, not kill the new process.
        SurviveClosedOutput();
        CloseAllButStandardOnExec(highestFd);
        execv(program, argv.data());
        const int error = errno;
        while (write(outcome[1], &error, sizeof error) < 0 && errno == EINTR) {
        }
        _exit(127);
    }
    close(gate[0]);
    close(outcome[1]);
    return HeldRestart(static_cast<std::uint32_t>(pid), gate[1], outcome[0]);
}

bool HeldRestart::release(QString* failure)
{
    if (m_gate < 0)
        return false;
    const char go = 1;
    while (write(m_gate, &go, 1) < 0 && errno == EINTR) {
    }
    close(m_gate);
    m_gate = -1;

    int error = 0;
    pollfd p{m_outcome, POLLIN, 0};
    int ready;
    while ((ready = poll(&p, 1, ExecOutcomeWaitMs)) < 0 && errno == EINTR) {
    }
    ssize_t n = 0;
    if (ready > 0) {
        while ((n = read(m_outcome, &error, sizeof error)) < 0 && errno == EINTR) {
        }
    }
    close(m_outcome);
    m_outcome = -1;
    if (n != ssize_t(sizeof error))
        return true; // end of file: the exec closed the pipe
    // The child ends at once after telling; it is collected so no zombie stays.
    for (int i = 0; i < 100 && waitpid(pid_t(m_pid), nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (failure)
        *failure = QStringLiteral("%1: %2").arg(QString::fromLocal8Bit(g_startedFrom.c_str()),
                                                QString::fromLocal8Bit(std::strerror(error)));
    return false;
}

bool WaitForProcessEnd(std::uint32_t pid, int timeoutMs)
{
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (fd < 0)
        return errno == ESRCH;
    pollfd p{fd, POLLIN, 0};
    int r;
    while ((r = poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    close(fd);
    return r > 0;
}

void* ReserveAddressSpace(std::size_t bytes) noexcept
{
    void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void ReleaseAddressSpace(void* address, std::size_t bytes) noexcept
{
    if (address)
        munmap(address, bytes);
}

void EndWithStartingProcess(std::uint32_t starter) noexcept
{
    const pid_t expected = starter ? pid_t(starter) : getppid();
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // Ended before the request was made: this process now belongs to another parent.
    if (getppid() != expected)
        raise(SIGTERM);
}

void SurviveClosedOutput() noexcept
{
    signal(SIGPIPE, SIG_IGN);
}

void ArmProcessDeadline(unsigned seconds) noexcept
{
    struct sigaction dfl
    {
    };
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(SIGALRM, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    alarm(seconds);
}

void SetCurrentThreadName(const char* name) noexcept
{
    char shortName[16];
    std::strncpy(shortName, name, sizeof shortName - 1);
    shortName[sizeof shortName - 1] = '\0';
    pthread_setname_np(pthread_self(), shortName);
}

} // namespace platform
