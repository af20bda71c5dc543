#include "platform/ProcessControl.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform {

void ExitProcessNow(int code) noexcept
{
    _exit(code);
}

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
    if (parts.isEmpty())
        return std::nullopt;
    std::vector<char*> argv;
    for (QByteArray& part : parts)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return std::nullopt;
    exe[n] = '\0';

    int gate[2];
    if (pipe2(gate, O_CLOEXEC) != 0)
        return std::nullopt;
    const pid_t pid = fork();
    if (pid < 0) {
        close(gate[0]);
        close(gate[1]);
        return std::nullopt;
    }
    if (pid == 0) {
        close(gate[1]);
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
        execv(exe, argv.data());
        _exit(127);
    }
    close(gate[0]);
    return HeldRestart(static_cast<std::uint32_t>(pid), gate[1]);
}

void HeldRestart::release()
{
    if (m_gate < 0)
        return;
    const char go = 1;
    while (write(m_gate, &go, 1) < 0 && errno == EINTR) {
    }
    close(m_gate);
    m_gate = -1;
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
