#include "platform/ExclusiveFile.h"

#include "platform/WriteAll.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
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

// A folder other accounts may write to: whatever lies in it may be put there by them.
bool OpenToOthers(const struct stat& folder)
{
    return (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// The folder part of `path` ("." for a bare name, "/" for the root). False when too long.
bool FolderOf(const char* path, char* out)
{
    const size_t length = std::strlen(path);
    if (length >= PATH_MAX)
        return false;
    std::memcpy(out, path, length + 1);
    char* slash = std::strrchr(out, '/');
    if (!slash)
        std::strcpy(out, ".");
    else if (slash == out)
        out[1] = '\0';
    else
        *slash = '\0';
    return true;
}

// A link another account could have put there or may swap: one in a folder others can write,
// unless it is this user's own link in a sticky folder (where nobody else may replace it).
bool UntrustedLink(const char* link, const struct stat& linkStat)
{
    char folder[PATH_MAX];
    struct stat st
    {
    };
    if (!FolderOf(link, folder) || ::stat(folder, &st) != 0)
        return true;
    return OpenToOthers(st) && !((st.st_mode & S_ISVTX) != 0 && linkStat.st_uid == geteuid());
}

// Walks the path a step at a time; false when one of its links is untrusted.
bool TrustedLinks(const char* path)
{
    char prefix[PATH_MAX];
    const size_t length = std::strlen(path);
    if (length >= PATH_MAX)
        return false;
    for (size_t end = 1; end <= length; ++end) {
        if (end < length && path[end] != '/')
            continue;
        std::memcpy(prefix, path, end);
        prefix[end] = '\0';
        struct stat st
        {
        };
        if (::lstat(prefix, &st) == 0 && S_ISLNK(st.st_mode) && UntrustedLink(prefix, st))
            return false;
    }
    return true;
}

} // namespace

int ExclusiveFile::openChecked(const char* path, char* resolved, FileRefusal& refusal)
{
    refusal = FileRefusal::Unavailable;
    if (std::strlen(path) >= PATH_MAX)
        return -1;
    if (!TrustedLinks(path)) {
        refusal = FileRefusal::LinkInSharedFolder;
        return -1;
    }
    // A link is followed, so the replacement lands in the file it points at, not over the link.
    if (!::realpath(path, resolved))
        std::strcpy(resolved, path);
    char folder[PATH_MAX];
    struct stat folderStat
    {
    };
    if (!FolderOf(resolved, folder) || ::stat(folder, &folderStat) != 0)
        return -1;
    const bool shared = OpenToOthers(folderStat);
    // In a shared folder a link may appear between the checks and the open: it is not followed.
    const int fd = ::open(resolved, O_RDWR | O_CREAT | O_CLOEXEC | (shared ? O_NOFOLLOW : 0), 0600);
    if (fd < 0) {
        // The kernel may refuse another user's file in a sticky folder itself (protected_regular).
        struct stat existing
        {
        };
        if (errno == ELOOP)
            refusal = FileRefusal::LinkInSharedFolder;
        else if (shared && ::lstat(resolved, &existing) == 0 && existing.st_uid != geteuid())
            refusal = FileRefusal::ForeignFileInSharedFolder;
        return -1;
    }
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (shared && st.st_uid != geteuid())) {
        if (shared && st.st_uid != geteuid())
            refusal = FileRefusal::ForeignFileInSharedFolder;
        ::close(fd);
        return -1;
    }
    refusal = FileRefusal::None;
    return fd;
}

std::unique_ptr<ExclusiveFile> ExclusiveFile::open(const QString& path, int waitMs, FileRefusal* refusal)
{
    FileRefusal ignored = FileRefusal::None;
    FileRefusal& why = refusal ? *refusal : ignored;
    const QByteArray native = QFile::encodeName(path);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    char resolved[PATH_MAX];
    for (;;) {
        const int fd = openChecked(native.constData(), resolved, why);
        if (fd < 0)
            return nullptr;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (SameFile(fd, resolved))
                return std::unique_ptr<ExclusiveFile>(new ExclusiveFile(fd, QByteArray(resolved)));
            close(fd); // replaced while we waited: the path names a newer file now
        } else {
            const int error = errno;
            close(fd);
            if (error != EWOULDBLOCK && error != EINTR) {
                why = FileRefusal::Unavailable;
                return nullptr;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            why = FileRefusal::Unavailable;
            return nullptr;
        }
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
    const bool written = WriteAll(fd, content.constData(), size_t(content.size())) && fsync(fd) == 0;
    if (close(fd) != 0 || !written || rename(temp.constData(), m_path.constData()) != 0) {
        unlink(temp.constData());
        return false;
    }
    return true;
}

} // namespace platform
