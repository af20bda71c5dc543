#include "platform/SharedMemory.h"

#include "platform/NamedObjectFiles.h"
#include "platform/NamedObjectOwner.h"

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

SharedMemory::Result FromErrno()
{
    return errno == ENOENT                     ? SharedMemory::Result::NotFound
           : errno == EEXIST                   ? SharedMemory::Result::AlreadyExists
           : errno == EACCES || errno == ELOOP ? SharedMemory::Result::Denied
                                               : SharedMemory::Result::Failed;
}

void* MapWhole(int fd, std::size_t size)
{
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return data == MAP_FAILED ? nullptr : data;
}

QByteArray FileName(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

} // namespace

std::unique_ptr<SharedMemory> SharedMemory::createAt(const QByteArray& path, std::size_t size, Result* result,
                                                     bool othersMayRead)
{
    if (size == 0 || path.isEmpty()) {
        Set(result, Result::Failed);
        return nullptr;
    }
    const int fd = CreateObjectFile(path, QByteArray(qsizetype(size), '\0'), othersMayRead);
    if (fd < 0) {
        Set(result, FromErrno());
        return nullptr;
    }
    const std::size_t mapped = size + sizeof(NamedObjectOwner);
    void* data = MapWhole(fd, mapped);
    ::close(fd);
    if (!data) {
        ::unlink(path.constData());
        Set(result, Result::Failed);
        return nullptr;
    }
    Set(result, Result::Ok);
    return std::unique_ptr<SharedMemory>(new SharedMemory(data, size, mapped, true));
}

std::unique_ptr<SharedMemory> SharedMemory::openAt(const QByteArray& path, Result* result, bool othersMayRead)
{
    if (path.isEmpty()) {
        Set(result, Result::Failed);
        return nullptr;
    }
    struct stat st
    {
    };
    const int fd = OpenObjectFile(path, O_RDWR, othersMayRead, 1, st);
    if (fd < 0) {
        Set(result, FromErrno());
        return nullptr;
    }
    NamedObjectOwner owner{};
    const bool stamped = OwnerOfObjectFile(fd, st, owner);
    const auto mapped = static_cast<std::size_t>(st.st_size);
    const std::size_t size = stamped ? mapped - sizeof owner : mapped;
    void* data = size > 0 ? MapWhole(fd, mapped) : nullptr;
    ::close(fd);
    if (!data) {
        Set(result, Result::Failed);
        return nullptr;
    }
    Set(result, Result::Ok);
    return std::unique_ptr<SharedMemory>(
        new SharedMemory(data, size, mapped, stamped && IsCurrentProcess(owner)));
}

std::unique_ptr<SharedMemory> SharedMemory::create(const QString& name, std::size_t size, Result* result,
                                                   bool othersMayRead)
{
    return createAt(SharedObjectPath(name), size, result, othersMayRead);
}

std::unique_ptr<SharedMemory> SharedMemory::open(const QString& name, Result* result, bool othersMayRead)
{
    return openAt(SharedObjectPath(name), result, othersMayRead);
}

std::unique_ptr<SharedMemory> SharedMemory::openOwn(const QString& name, Result* result, bool othersMayRead)
{
    const QByteArray path = SharedObjectPath(name);
    if (auto section = openAt(path, nullptr, othersMayRead); section && section->madeByThisProcess()) {
        Set(result, Result::Ok);
        return section;
    }
    const QByteArray fallback = path.isEmpty() ? QByteArray() : FallbackObjectPath(FileName(path));
    auto section = openAt(fallback, result, othersMayRead);
    if (section && !section->madeByThisProcess()) {
        Set(result, Result::Denied);
        return nullptr;
    }
    return section;
}

std::unique_ptr<SharedMemory> SharedMemory::createOwn(const QString& name, std::size_t size, Result* result,
                                                      bool othersMayRead)
{
    const QByteArray path = SharedObjectPath(name);
    Result created = Result::Failed;
    auto section = createAt(path, size, &created, othersMayRead);
    if (created == Result::AlreadyExists && IsLeftoverObject(path, ProcessIdInName(FileName(path))) &&
        ::unlink(path.constData()) == 0)
        section = createAt(path, size, &created, othersMayRead);
    if (created == Result::AlreadyExists || created == Result::Denied)
        return createAt(FallbackObjectPath(FileName(path)), size, result, othersMayRead);
    Set(result, created);
    return section;
}

bool SharedMemory::removeOwn(const QString& name)
{
    const QByteArray path = SharedObjectPath(name);
    if (path.isEmpty())
        return false;
    bool removed = false;
    if (auto section = openAt(path, nullptr, true); section && section->madeByThisProcess())
        removed = ::unlink(path.constData()) == 0;
    const QByteArray fallback = FallbackObjectPath(FileName(path));
    if (!fallback.isEmpty() && ::unlink(fallback.constData()) == 0)
        removed = true;
    return removed;
}

bool SharedMemory::remove(const QString& name)
{
    const QByteArray path = SharedObjectPath(name);
    return !path.isEmpty() && ::unlink(path.constData()) == 0;
}

bool SharedMemory::exists(const QString& name)
{
    const QByteArray path = SharedObjectPath(name);
    struct stat st
    {
    };
    return !path.isEmpty() && ::lstat(path.constData(), &st) == 0;
}

SharedMemory::~SharedMemory()
{
    munmap(m_data, m_mapped);
}

} // namespace platform
