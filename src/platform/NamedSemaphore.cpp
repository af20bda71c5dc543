#include "platform/NamedSemaphore.h"

#include "platform/PosixNames.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// glibc keeps named semaphores as "sem.<name>" files in /dev/shm. sem_open cannot tell who made
// one that already existed, so the file is checked: another account's semaphore, or one that others
// may write to, could be held to stall this process.
bool OwnedByThisUser(const QByteArray& posixName)
{
    struct stat st
    {
    };
    const QByteArray path = "/dev/shm/sem." + posixName.mid(1);
    if (stat(path.constData(), &st) != 0)
        return true; // not where glibc keeps them; nothing to check against
    return PrivateToThisUser(st);
}

} // namespace

std::unique_ptr<NamedSemaphore> NamedSemaphore::open(const QString& name, bool othersMayRead)
{
    QByteArray posix;
    if (!ToPosixName(name, posix))
        return nullptr;
    const mode_t mode = othersMayRead ? (S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH) : (S_IRUSR | S_IWUSR);
    sem_t* sem = sem_open(posix.constData(), O_CREAT, mode, 1u);
    if (sem == SEM_FAILED)
        return nullptr;
    if (!OwnedByThisUser(posix)) {
        sem_close(sem);
        return nullptr;
    }
    return std::unique_ptr<NamedSemaphore>(new NamedSemaphore(sem, posix));
}

bool NamedSemaphore::remove(const QString& name)
{
    QByteArray posix;
    return ToPosixName(name, posix) && sem_unlink(posix.constData()) == 0;
}

bool NamedSemaphore::exists(const QString& name)
{
    QByteArray posix;
    if (!ToPosixName(name, posix))
        return false;
    sem_t* sem = sem_open(posix.constData(), 0);
    if (sem == SEM_FAILED)
        return errno == EACCES;
    sem_close(sem);
    return true;
}

NamedSemaphore::~NamedSemaphore()
{
    sem_close(static_cast<sem_t*>(m_sem));
}

void NamedSemaphore::lock()
{
    while (sem_wait(static_cast<sem_t*>(m_sem)) != 0 && errno == EINTR) {
    }
}

bool NamedSemaphore::lockFor(int milliseconds)
{
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    const long long nanoseconds = deadline.tv_nsec + static_cast<long long>(milliseconds) * 1000000;
    deadline.tv_sec += static_cast<time_t>(nanoseconds / 1000000000);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
    for (;;) {
        if (sem_timedwait(static_cast<sem_t*>(m_sem), &deadline) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

void NamedSemaphore::unlock()
{
    sem_post(static_cast<sem_t*>(m_sem));
}

bool NamedSemaphore::isCurrent() const
{
    // POSIX hands out the same address for every open of one semaphore that has not been unlinked.
    sem_t* again = sem_open(m_name.constData(), 0);
    if (again == SEM_FAILED)
        return false;
    const bool same = again == m_sem;
    sem_close(again);
    return same;
}

} // namespace platform
