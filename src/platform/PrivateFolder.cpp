#include "platform/PrivateFolder.h"

#include "platform/WriteAll.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

// Bounds of a removal walk: deeper or larger trees than these are no folders this code made.
constexpr int MaxDepth = 32;
constexpr size_t MaxEntries = 100000;
constexpr int NameAttempts = 100;

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool PlainName(const QByteArray& name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\0');
}

bool OwnedAndClosed(const struct stat& st)
{
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

// The folder `name` under `dirFd`, opened without following a link and checked on its descriptor.
int OpenPrivate(int dirFd, const char* name)
{
    const int fd = ::openat(dirFd, name, DirectoryFlags);
    if (fd < 0)
        return -1;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !OwnedAndClosed(st)) {
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

// A session or temporary base folder: this user's and not writable by others, or (when shared
// ones will do) sticky, so that no other account can rename or replace what this user makes in it.
bool UsableBase(const QString& path, bool mayBeShared)
{
    struct stat st
    {
    };
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if (st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return true;
    return mayBeShared && (st.st_mode & S_ISVTX) != 0;
}

QString SharedTemporaryBase()
{
    const QString tmpdir = qEnvironmentVariable("TMPDIR");
    return UsableBase(tmpdir, true) ? tmpdir : QStringLiteral("/tmp");
}

QByteArray RandomSuffix()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(6, 'x');
    for (char& c : suffix)
        c = letters[QRandomGenerator::system()->bounded(int(sizeof letters - 1))];
    return suffix;
}

// The names in the folder, read before anything is removed so the listing is not disturbed.
std::vector<QByteArray> EntryNames(int dirFd)
{
    std::vector<QByteArray> names;
    const int listing = ::openat(dirFd, ".", DirectoryFlags);
    if (listing < 0)
        return names;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return names;
    }
    while (names.size() < MaxEntries) {
        const dirent* entry = ::readdir(dir);
        if (!entry)
            break;
        const QByteArray name(entry->d_name);
        if (PlainName(name))
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

bool RemoveEntry(int dirFd, const QByteArray& name, int depth);

void EmptyFolder(int fd, int depth)
{
    for (const QByteArray& name : EntryNames(fd))
        RemoveEntry(fd, name, depth);
}

// Unlinks a file or link itself; a folder is opened without following a link (one swapped for a
// link meanwhile is unlinked as a link), emptied by its descriptor and then removed.
bool RemoveEntry(int dirFd, const QByteArray& name, int depth)
{
    if (::unlinkat(dirFd, name.constData(), 0) == 0 || errno == ENOENT)
        return true;
    if ((errno != EISDIR && errno != EPERM) || depth >= MaxDepth)
        return false;
    const int fd = ::openat(dirFd, name.constData(), DirectoryFlags);
    if (fd < 0)
        return (errno == ELOOP || errno == ENOTDIR) && ::unlinkat(dirFd, name.constData(), 0) == 0;
    EmptyFolder(fd, depth + 1);
    ::close(fd);
    return ::unlinkat(dirFd, name.constData(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

} // namespace

std::unique_ptr<PrivateFolder> PrivateFolder::open(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST))
        return nullptr;
    const int fd = OpenPrivate(AT_FDCWD, native.constData());
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<PrivateFolder>(new PrivateFolder(fd, path));
}

std::unique_ptr<PrivateFolder> PrivateFolder::openWorkFolder(const QString& name)
{
    if (!PlainName(QFile::encodeName(name)))
        return nullptr;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (UsableBase(runtime, false))
        if (auto folder = open(runtime + QLatin1Char('/') + name))
            return folder;
    const QString base = SharedTemporaryBase();
    if (auto folder = open(base + QLatin1Char('/') + name + QLatin1Char('-') + QString::number(geteuid())))
        return folder;
    // The name is taken by another account: a fresh folder of this process instead.
    QByteArray pattern = QFile::encodeName(base + QLatin1Char('/') + name) + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        return nullptr;
    const int fd = OpenPrivate(AT_FDCWD, pattern.constData());
    const int parentFd = ::open(QFile::encodeName(base).constData(), DirectoryFlags);
    if (fd < 0 || parentFd < 0) {
        if (fd >= 0)
            ::close(fd);
        if (parentFd >= 0)
            ::close(parentFd);
        ::rmdir(pattern.constData());
        return nullptr;
    }
    std::unique_ptr<PrivateFolder> folder(new PrivateFolder(fd, QFile::decodeName(pattern)));
    folder->m_parentFd = parentFd;
    folder->m_name = pattern.mid(pattern.lastIndexOf('/') + 1);
    folder->m_removeWhenDone = true;
    return folder;
}

PrivateFolder::~PrivateFolder()
{
    if (m_removeWhenDone) {
        if (m_wholeTree)
            EmptyFolder(m_fd, 1);
        ::unlinkat(m_parentFd, m_name.constData(), AT_REMOVEDIR); // a working folder only when empty
    }
    ::close(m_fd); // drops a task folder's lock
    if (m_parentFd >= 0)
        ::close(m_parentFd);
}

QString PrivateFolder::filePath(const QString& name) const
{
    if (!PlainName(QFile::encodeName(name)))
        return {};
    return m_path + QLatin1Char('/') + name;
}

std::unique_ptr<PrivateFolder> PrivateFolder::createTaskFolder(const QString& prefix) const
{
    const QByteArray start = QFile::encodeName(prefix);
    for (int attempt = 0; attempt < NameAttempts; ++attempt) {
        const QByteArray name = start + RandomSuffix();
        if (!PlainName(name))
            return nullptr;
        if (::mkdirat(m_fd, name.constData(), 0700) != 0) {
            if (errno == EEXIST)
                continue;
            return nullptr;
        }
        const int fd = OpenPrivate(m_fd, name.constData());
        if (fd < 0)
            continue; // taken away by another process's clean-up before it could be locked
        struct stat st
        {
        };
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 || st.st_nlink == 0) {
            ::close(fd);
            continue;
        }
        const int parentFd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
        if (parentFd < 0) {
            ::close(fd);
            ::unlinkat(m_fd, name.constData(), AT_REMOVEDIR);
            return nullptr;
        }
        std::unique_ptr<PrivateFolder> folder(new PrivateFolder(fd, filePath(QFile::decodeName(name))));
        folder->m_parentFd = parentFd;
        folder->m_name = name;
        folder->m_removeWhenDone = true;
        folder->m_wholeTree = true;
        return folder;
    }
    return nullptr;
}

int PrivateFolder::createFile(const QString& name) const
{
    const QByteArray native = QFile::encodeName(name);
    if (!PlainName(native)) {
        errno = EINVAL;
        return -1;
    }
    return ::openat(m_fd, native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

QString PrivateFolder::writeFile(const QString& name, const QByteArray& content) const
{
    const int fd = createFile(name);
    if (fd < 0)
        return {};
    const bool written = WriteAll(fd, content.constData(), size_t(content.size()));
    if (::close(fd) != 0 || !written) {
        ::unlinkat(m_fd, QFile::encodeName(name).constData(), 0);
        return {};
    }
    return filePath(name);
}

QString PrivateFolder::writeFreeName(const QString& name, const QByteArray& content) const
{
    for (int number = 1; number <= NameAttempts; ++number) {
        const QString candidate = number == 1 ? name : QString::number(number) + QLatin1Char('-') + name;
        const QString written = writeFile(candidate, content);
        if (!written.isEmpty() || errno != EEXIST)
            return written;
    }
    return {};
}

bool PrivateFolder::remove(const QString& name) const
{
    const QByteArray native = QFile::encodeName(name);
    return PlainName(native) && RemoveEntry(m_fd, native, 0);
}

void PrivateFolder::removeLeftovers() const
{
    for (const QByteArray& name : EntryNames(m_fd)) {
        const int fd = ::openat(m_fd, name.constData(), DirectoryFlags);
        if (fd < 0) {
            ::unlinkat(m_fd, name.constData(), 0); // a file or a link
            continue;
        }
        // A task folder a live task holds stays; the lock is kept until it is gone.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            EmptyFolder(fd, 1);
            ::unlinkat(m_fd, name.constData(), AT_REMOVEDIR);
        }
        ::close(fd);
    }
}

} // namespace platform
