#pragma once
// The files behind named shared memory sections and semaphores, opened and checked on their
// descriptor: a name in /dev/shm may be planted, swapped or removed by another account at any
// moment, so nothing is decided by path.

#include <QByteArray>
#include <QString>
#include <cstddef>

struct stat;

namespace platform {

struct NamedObjectOwner;

// The object's file in /dev/shm for `fileName` ("<name>" or "sem.<name>"); empty for a name that
// cannot be one.
QByteArray SharedObjectPath(const QString& name, const char* filePrefix = "");

// Opens the existing object file at `path` (O_NOFOLLOW) and checks it on the descriptor: a plain
// file of this user that no one else may write to (with othersMayRead others may read it) of at
// least `minimumSize` bytes. -1 with errno set (EACCES when it is not such a file).
int OpenObjectFile(const QByteArray& path, int access, bool othersMayRead, std::size_t minimumSize,
                   struct stat& st);

// Creates the object file at `path` whole: `content` followed by this process's owner stamp, in a
// temporary file of the same folder that is then linked under the name, so nobody sees it half
// made. -1 with errno set (EEXIST when the name is taken); else the open descriptor.
int CreateObjectFile(const QByteArray& path, const QByteArray& content, bool othersMayRead);

// Whether the object at `path` (named for process `namedId`) is this user's and left by a process
// that provably ended.
bool IsLeftoverObject(const QByteArray& path, std::uint32_t namedId);

// The owner stamp of the open object file; false when it has none.
bool OwnerOfObjectFile(int fd, const struct stat& st, NamedObjectOwner& owner);

} // namespace platform
