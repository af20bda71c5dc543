#include "platform/LeftoverNamedObjects.h"

#include "platform/NamedObjectFiles.h"
#include "platform/NamedObjectOwner.h"

#include <QByteArray>

#include <dirent.h>
#include <unistd.h>

namespace platform {

namespace {

// Where glibc keeps shared memory objects and named semaphores ("sem." + name).
constexpr char ObjectFolder[] = "/dev/shm";
constexpr char SemaphorePrefix[] = "sem.";

// The process id of "<prefix>$<hex id>" for one of the prefixes (a fallback copy adds a suffix
// after a dot), else 0.
std::uint32_t OwnerOf(QByteArray name, const QStringList& prefixes)
{
    if (name.startsWith(SemaphorePrefix))
        name.remove(0, sizeof SemaphorePrefix - 1);
    const qsizetype dollar = name.lastIndexOf('$');
    if (dollar <= 0 || !prefixes.contains(QString::fromUtf8(name.left(dollar))))
        return 0;
    return ProcessIdInName(name);
}

int RemoveIn(const QByteArray& folderPath, const QStringList& prefixes)
{
    DIR* folder = opendir(folderPath.constData());
    if (!folder)
        return 0;
    int removed = 0;
    while (const dirent* entry = readdir(folder)) {
        const QByteArray name(entry->d_name);
        const std::uint32_t owner = OwnerOf(name, prefixes);
        if (owner == 0)
            continue;
        if (IsLeftoverObject(folderPath + '/' + name, owner) &&
            unlinkat(dirfd(folder), entry->d_name, 0) == 0)
            ++removed;
    }
    closedir(folder);
    return removed;
}

} // namespace

int RemoveLeftoverNamedObjects(const QStringList& prefixes)
{
    int removed = RemoveIn(ObjectFolder, prefixes);
    const QByteArray fallback = FallbackObjectFolder();
    if (!fallback.isEmpty())
        removed += RemoveIn(fallback, prefixes);
    return removed;
}

} // namespace platform
