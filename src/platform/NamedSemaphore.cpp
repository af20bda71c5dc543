#include "platform/NamedSemaphore.h"

#include "platform/NamedObjectFiles.h"
#include "platform/NamedObjectOwner.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr std::size_t FileSize = sizeof(sem_t) + sizeof(NamedObjectOwner);
// Tries at one place: a name that is removed or taken between looking and creating is looked at again.
constexpr int Attempts = 8;

sem_t* Semaphore(void* mapping)
{
    return static_cast<sem_t*>(mapping);
}

QByteArray FileName(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArray InitialContent()
{
    sem_t unlocked;
    sem_init(&unlocked, 1, 1u);
    return QByteArray(reinterpret_cast<const char*>(&unlocked), sizeof unlocked);
}

enum class Found
{
    Mine,
    Free,
    Taken
};

// Opens this process's semaphore at `path`; Taken when something else holds the name. Others
// may read it (they cannot use it without writing).
Found OpenAt(const QByteArray& path, int& fd, struct stat& st)
{
    fd = -1;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        fd = OpenObjectFile(path, O_RDWR, true, FileSize, st);
        if (fd >= 0) {
            NamedObjectOwner owner{};
            if (OwnerOfObjectFile(fd, st, owner) && IsCurrentProcess(owner))
                return Found::Mine;
            ::close(fd);
            fd = -1;
        } else if (errno == ENOENT) {
            return Found::Free;
        }
        if (!IsLeftoverObject(path, ProcessIdInName(FileName(path))) || ::unlink(path.constData()) != 0)
            return Found::Taken;
    }
    return Found::Taken;
}

int CreateAt(const QByteArray& path, bool othersMayRead, struct stat& st)
{
    const int fd = CreateObjectFile(path, InitialContent(), othersMayRead);
    if (fd >= 0 && ::fstat(fd, &st) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// This process's semaphore at the shared path or, when that name is taken, at the fallback.
int OpenOrCreate(const QByteArray& path, bool othersMayRead, QByteArray& usedPath, struct stat& st)
{
    const QByteArray fallback = FallbackObjectPath(FileName(path));
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        int fd = -1;
        const Found shared = OpenAt(path, fd, st);
        if (shared == Found::Mine) {
            usedPath = path;
            return fd;
        }
        // One this process keeps at the fallback stays in use, even when the shared name is free again.
        const Found own = fallback.isEmpty() ? Found::Taken : OpenAt(fallback, fd, st);
        if (own == Found::Mine) {
            usedPath = fallback;
            return fd;
        }
        const QByteArray& target = shared == Found::Free ? path : fallback;
        if (shared == Found::Taken && own != Found::Free)
            return -1;
        fd = CreateAt(target, othersMayRead, st);
        if (fd >= 0) {
            usedPath = target;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

} // namespace

std::unique_ptr<NamedSemaphore> NamedSemaphore::open(const QString& name, bool othersMayRead)
{
    const QByteArray path = SharedObjectPath(name, "sem.");
    if (path.isEmpty())
        return nullptr;
    QByteArray usedPath;
    struct stat st
    {
    };
    const int fd = OpenOrCreate(path, othersMayRead, usedPath, st);
    if (fd < 0)
        return nullptr;
    void* mapping = mmap(nullptr, FileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (mapping == MAP_FAILED)
        return nullptr;
    return std::unique_ptr<NamedSemaphore>(new NamedSemaphore(mapping, usedPath, st.st_dev, st.st_ino));
}

bool NamedSemaphore::remove(const QString& name)
{
    const QByteArray path = SharedObjectPath(name, "sem.");
    if (path.isEmpty())
        return false;
    bool removed = false;
    struct stat st
    {
    };
    const int fd = OpenObjectFile(path, O_RDONLY, true, FileSize, st);
    if (fd >= 0) {
        NamedObjectOwner owner{};
        if (OwnerOfObjectFile(fd, st, owner) && IsCurrentProcess(owner))
            removed = ::unlink(path.constData()) == 0;
        ::close(fd);
    }
    const QByteArray fallback = FallbackObjectPath(FileName(path));
    if (!fallback.isEmpty() && ::unlink(fallback.constData()) == 0)
        removed = true;
    return removed;
}

bool NamedSemaphore::exists(const QString& name)
{
    const QByteArray path = SharedObjectPath(name, "sem.");
    struct stat st
    {
    };
    return !path.isEmpty() && ::lstat(path.constData(), &st) == 0;
}

NamedSemaphore::~NamedSemaphore()
{
    munmap(m_mapping, FileSize);
}

bool NamedSemaphore::lockFor(int milliseconds)
{
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    const long long nanoseconds = deadline.tv_nsec + static_cast<long long>(milliseconds) * 1000000;
    deadline.tv_sec += static_cast<time_t>(nanoseconds / 1000000000);
    deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
    for (;;) {
        if (sem_timedwait(Semaphore(m_mapping), &deadline) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

void NamedSemaphore::unlock()
{
    sem_post(Semaphore(m_mapping));
}

bool NamedSemaphore::isCurrent() const
{
    struct stat st
    {
    };
    return ::lstat(m_path.constData(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode;
}

} // namespace platform
