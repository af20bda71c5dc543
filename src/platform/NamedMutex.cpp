#include "platform/NamedMutex.h"

#include "platform/PosixNames.h"
#include "platform/WinePrefix.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

QString encodeName(const QString& name)
{
    QString out;
    for (const char c : name.toUtf8()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_' || c == '.';
        out += plain ? QString(QLatin1Char(c)) : QStringLiteral("%%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
    }
    return out;
}

// Folder names tried in turn: another account may have taken the first ones, since /tmp is shared.
constexpr int FolderChoices = 8;

// Creates `path` private to this user, or checks that the folder already there is.
bool EnsurePrivateFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st
    {
    };
    return ::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) && PrivateToThisUser(st);
}

bool UsableBase(const QString& path)
{
    struct stat st
    {
    };
    return !path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           PrivateToThisUser(st) && ::access(QFile::encodeName(path).constData(), W_OK | X_OK) == 0;
}

QString NamespaceBase()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return UsableBase(runtime) ? runtime : QDir::tempPath();
}

// -1 with errno set when the file cannot be opened or is not a plain file private to this user.
int openLockFile(const QString& path)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return -1;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !PrivateToThisUser(st)) {
        ::close(fd);
        errno = EACCES;
        return -1;
    }
    return fd;
}

bool lockRetrying(int fd, int operation)
{
    while (::flock(fd, operation) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

// The guard is held only for the moment a create takes; one held longer belongs to a process that
// hangs, and the start must not hang with it. False with errno ETIMEDOUT past the bound.
constexpr int GuardWaitMs = 5000;

bool lockGuardBounded(int fd)
{
    for (int waited = 0; waited < GuardWaitMs; waited += 10) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        ::usleep(10 * 1000);
    }
    errno = ETIMEDOUT;
    return false;
}

} // namespace

QString NamedMutex::namespaceFolder()
{
    const QString base = NamespaceBase();
    const QString prefix = QFileInfo(WinePrefix::path()).absoluteFilePath();
    const QString id = QString::fromLatin1(
        QCryptographicHash::hash(prefix.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
    const QString first = QStringLiteral("%1/skintool-objects-%2").arg(base).arg(::getuid());
    for (int choice = 1; choice <= FolderChoices; ++choice) {
        const QString root = choice == 1 ? first : QStringLiteral("%1-%2").arg(first).arg(choice);
        const QString folder = root + QLatin1Char('/') + id;
        if (EnsurePrivateFolder(root) && EnsurePrivateFolder(folder))
            return folder;
    }
    return QString();
}

std::unique_ptr<NamedMutex> NamedMutex::create(const QString& name, bool initialOwner)
{
    std::unique_ptr<NamedMutex> mutex(new NamedMutex);
    const QString folder = namespaceFolder();
    if (folder.isEmpty()) {
        qWarning("Named objects are unavailable: every folder for them under \"%s\" belongs to another "
                 "user or is open to others",
                 qPrintable(NamespaceBase()));
        mutex->m_lastError = uint32_t(EACCES);
        return mutex;
    }
    const QString base = folder + QLatin1Char('/') + encodeName(name);

    const int guard = openLockFile(base + QStringLiteral(".guard"));
    const int handle = openLockFile(base + QStringLiteral(".handles"));
    if (guard < 0 || handle < 0 || !lockGuardBounded(guard)) {
        mutex->m_lastError = uint32_t(errno ? errno : EIO);
        qWarning("Cannot create the named object \"%s\" in \"%s\": %s", qPrintable(name), qPrintable(folder),
                 strerror(int(mutex->m_lastError)));
        if (guard >= 0)
            ::close(guard);
        if (handle >= 0)
            ::close(handle);
        return mutex;
    }
    if (::flock(handle, LOCK_EX | LOCK_NB) == 0) {
        // Nobody else holds a handle: this call creates the mutex.
        lockRetrying(handle, LOCK_SH);
        mutex->m_owned = initialOwner;
    } else {
        mutex->m_lastError = ERROR_ALREADY_EXISTS;
        lockRetrying(handle, LOCK_SH);
    }
    ::flock(guard, LOCK_UN);
    ::close(guard);
    mutex->m_handleFd = handle;
    return mutex;
}

NamedMutex::~NamedMutex()
{
    if (m_handleFd >= 0)
        ::close(m_handleFd);
}

} // namespace platform
