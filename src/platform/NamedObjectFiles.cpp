#include "platform/NamedObjectFiles.h"

#include "platform/NamedObjectOwner.h"
#include "platform/PosixNames.h"
#include "platform/WriteAll.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// Where glibc keeps shared memory objects and named semaphores.
constexpr char SharedObjectFolder[] = "/dev/shm";

mode_t ObjectMode(bool othersMayRead)
{
    return othersMayRead ? (S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH) : (S_IRUSR | S_IWUSR);
}

} // namespace

QByteArray SharedObjectPath(const QString& name, const char* filePrefix)
{
    QByteArray posix;
    if (!ToPosixName(name, posix))
        return QByteArray();
    return QByteArray(SharedObjectFolder) + '/' + filePrefix + posix.mid(1);
}

int OpenObjectFile(const QByteArray& path, int access, bool othersMayRead, std::size_t minimumSize,
                   struct stat& st)
{
    const int fd = ::open(path.constData(), access | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    const mode_t refused = othersMayRead ? (S_IWGRP | S_IWOTH | S_IXGRP | S_IXOTH) : (S_IRWXG | S_IRWXO);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !PrivateToThisUser(st) ||
        (st.st_mode & refused) != 0 || std::size_t(st.st_size) < minimumSize) {
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

int CreateObjectFile(const QByteArray& path, const QByteArray& content, bool othersMayRead)
{
    QByteArray temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return -1;
    const NamedObjectOwner owner = CurrentObjectOwner();
    const bool written = ::fchmod(fd, ObjectMode(othersMayRead)) == 0 &&
                         WriteAll(fd, content.constData(), std::size_t(content.size())) &&
                         WriteAll(fd, reinterpret_cast<const char*>(&owner), sizeof owner);
    const int linked = written ? ::link(temporary.constData(), path.constData()) : -1;
    const int error = written ? errno : EIO;
    ::unlink(temporary.constData());
    if (linked != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool OwnerOfObjectFile(int fd, const struct stat& st, NamedObjectOwner& owner)
{
    return ReadObjectOwner(fd, std::size_t(st.st_size), owner);
}

bool IsLeftoverObject(const QByteArray& path, std::uint32_t namedId)
{
    struct stat st
    {
    };
    const int fd = OpenObjectFile(path, O_RDONLY, true, 0, st);
    if (fd < 0)
        return false;
    NamedObjectOwner owner{};
    const bool stamped = OwnerOfObjectFile(fd, st, owner);
    ::close(fd);
    return OwnerEnded(st, stamped ? &owner : nullptr, namedId);
}

} // namespace platform
