#include "platform/FileCopy.h"

#include "platform/WinePrefix.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

namespace platform {

bool CopyFileReplacing(const QString& from, const QString& to)
{
    const QString source = WinePrefix::toNativePath(from);
    const QString target = WinePrefix::toNativePath(to);
    QFile in(source);
    if (source.isEmpty() || target.isEmpty() || !in.open(QIODevice::ReadOnly))
        return false;
    QTemporaryFile temp(QFileInfo(target).absolutePath() + QStringLiteral("/.") +
                        QFileInfo(target).fileName() + QStringLiteral(".XXXXXX"));
    if (!temp.open())
        return false;
    char buffer[1 << 16];
    for (;;) {
        const qint64 got = in.read(buffer, sizeof buffer);
        if (got < 0 || (got > 0 && temp.write(buffer, got) != got))
            return false;
        if (got == 0)
            break;
    }
    temp.setPermissions(in.permissions());
    if (!temp.flush())
        return false;
    // rename(2) replaces the target atomically; QFile::rename would refuse an existing one.
    if (std::rename(QFile::encodeName(temp.fileName()).constData(), QFile::encodeName(target).constData()) !=
        0)
        return false;
    temp.setAutoRemove(false);
    return true;
}

} // namespace platform
