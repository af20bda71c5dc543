#include "platform/NamedMutex.h"

#include "platform/WinePrefix.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
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

int openLockFile(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

bool lockRetrying(int fd, int operation)
{
    while (::flock(fd, operation) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

} // namespace

QString NamedMutex::namespaceFolder()
{
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QFileInfo(base).isWritable())
        base = QDir::tempPath();
    const QString prefix = QFileInfo(WinePrefix::path()).absoluteFilePath();
    const QByteArray id =
        QCryptographicHash::hash(prefix.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QStringLiteral("%1/skintool-objects-%2/%3").arg(base).arg(::getuid()).arg(QString::fromLatin1(id));
}

std::unique_ptr<NamedMutex> NamedMutex::create(const QString& name, bool initialOwner)
{
    std::unique_ptr<NamedMutex> mutex(new NamedMutex);
    const QString folder = namespaceFolder();
    QDir().mkpath(folder);
    ::chmod(QFile::encodeName(QFileInfo(folder).path()).constData(), 0700);
    const QString base = folder + QLatin1Char('/') + encodeName(name);

    const int guard = openLockFile(base + QStringLiteral(".guard"));
    const int handle = openLockFile(base + QStringLiteral(".handles"));
    if (guard < 0 || handle < 0 || !lockRetrying(guard, LOCK_EX)) {
        mutex->m_lastError = uint32_t(errno ? errno : EIO);
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
