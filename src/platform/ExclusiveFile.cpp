#include "platform/ExclusiveFile.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

bool SameFile(int fd, const QByteArray& path)
{
    struct stat opened
    {
    }, named{};
    return fstat(fd, &opened) == 0 && stat(path.constData(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

// A link is followed, so the replacement lands in the file it points at, not over the link.
QByteArray ResolvedPath(const QByteArray& path)
{
    char resolved[PATH_MAX];
    if (realpath(path.constData(), resolved))
        return QByteArray(resolved);
    return path;
}

bool WriteAll(int fd, const QByteArray& content)
{
    const char* data = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t written = write(fd, data, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

std::unique_ptr<ExclusiveFile> ExclusiveFile::open(const QString& path, int waitMs)
{
    const QByteArray native = ResolvedPath(QFile::encodeName(path));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return nullptr;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (SameFile(fd, native))
                return std::unique_ptr<ExclusiveFile>(new ExclusiveFile(fd, native));
            close(fd); // replaced while we waited: the path names a newer file now
            if (std::chrono::steady_clock::now() >= deadline)
                return nullptr;
            continue;
        }
        const int error = errno;
        close(fd);
        if (error != EWOULDBLOCK && error != EINTR)
            return nullptr;
        if (std::chrono::steady_clock::now() >= deadline)
            return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

ExclusiveFile::~ExclusiveFile()
{
    close(m_fd); // drops the lock
}

bool ExclusiveFile::readAll(QByteArray& out) const
{
    out.clear();
    if (lseek(m_fd, 0, SEEK_SET) != 0)
        return false;
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        out.append(buffer, got);
    }
}

bool ExclusiveFile::replace(const QByteArray& content)
{
    const qsizetype slash = m_path.lastIndexOf('/');
    const QByteArray folder = slash >= 0 ? m_path.left(slash + 1) : QByteArray();
    const QByteArray name = slash >= 0 ? m_path.mid(slash + 1) : m_path;
    QByteArray temp = folder + "." + name + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat original
    {
    };
    if (fstat(m_fd, &original) == 0)
        fchmod(fd, original.st_mode & 07777);
    const bool written = WriteAll(fd, content) && fsync(fd) == 0;
    if (close(fd) != 0 || !written || rename(temp.constData(), m_path.constData()) != 0) {
        unlink(temp.constData());
        return false;
    }
    return true;
}

} // namespace platform
