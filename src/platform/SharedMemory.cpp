#include "platform/SharedMemory.h"

#include "platform/PosixNames.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

void Set(SharedMemory::Result* result, SharedMemory::Result value)
{
    if (result)
        *result = value;
}

void* MapWhole(int fd, std::size_t size)
{
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return data == MAP_FAILED ? nullptr : data;
}

} // namespace

std::unique_ptr<SharedMemory> SharedMemory::create(const QString& name, std::size_t size, Result* result,
                                                   bool othersMayRead)
{
    QByteArray posix;
    if (size == 0 || !ToPosixName(name, posix)) {
        Set(result, Result::Failed);
        return nullptr;
    }
    const mode_t mode = othersMayRead ? (S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH) : (S_IRUSR | S_IWUSR);
    const int fd = shm_open(posix.constData(), O_RDWR | O_CREAT | O_EXCL, mode);
    if (fd >= 0)
        fchmod(fd, mode); // the umask may have taken read bits away
    if (fd < 0) {
        Set(result, errno == EEXIST   ? Result::AlreadyExists
                    : errno == EACCES ? Result::Denied
                                      : Result::Failed);
        return nullptr;
    }
    void* data = nullptr;
    if (ftruncate(fd, static_cast<off_t>(size)) == 0)
        data = MapWhole(fd, size);
    close(fd);
    if (!data) {
        shm_unlink(posix.constData());
        Set(result, Result::Failed);
        return nullptr;
    }
    Set(result, Result::Ok);
    return std::unique_ptr<SharedMemory>(new SharedMemory(data, size));
}

std::unique_ptr<SharedMemory> SharedMemory::open(const QString& name, Result* result, bool othersMayRead)
{
    QByteArray posix;
    if (!ToPosixName(name, posix)) {
        Set(result, Result::Failed);
        return nullptr;
    }
    const int fd = shm_open(posix.constData(), O_RDWR, 0);
    if (fd < 0) {
        Set(result, errno == ENOENT ? Result::NotFound : errno == EACCES ? Result::Denied : Result::Failed);
        return nullptr;
    }
    struct stat st
    {
    };
    const mode_t refused = othersMayRead ? (S_IWGRP | S_IWOTH | S_IXGRP | S_IXOTH) : (S_IRWXG | S_IRWXO);
    if (fstat(fd, &st) != 0 || !PrivateToThisUser(st) || (st.st_mode & refused) != 0) {
        close(fd);
        Set(result, Result::Denied);
        return nullptr;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    void* data = size > 0 ? MapWhole(fd, size) : nullptr;
    close(fd);
    if (!data) {
        Set(result, Result::Failed);
        return nullptr;
    }
    Set(result, Result::Ok);
    return std::unique_ptr<SharedMemory>(new SharedMemory(data, size));
}

bool SharedMemory::remove(const QString& name)
{
    QByteArray posix;
    return ToPosixName(name, posix) && shm_unlink(posix.constData()) == 0;
}

bool SharedMemory::exists(const QString& name)
{
    QByteArray posix;
    if (!ToPosixName(name, posix))
        return false;
    const int fd = shm_open(posix.constData(), O_RDONLY, 0);
    if (fd < 0)
        return errno == EACCES; // someone else's, but the name is taken
    close(fd);
    return true;
}

SharedMemory::~SharedMemory()
{
    munmap(m_data, m_size);
}

} // namespace platform
