#pragma once

#include <QByteArray>
#include <QString>

struct stat;

namespace platform {

// The POSIX object name ("/" + one path component) for a named semaphore or shared memory block;
// false for a name that cannot be one (empty, with a slash, or longer than 200 characters).
bool ToPosixName(const QString& name, QByteArray& out);

// True for a file or folder of this user that nobody else may write to. Named objects live at
// predictable places, so anything else could be held or fed by another account.
bool PrivateToThisUser(const struct stat& st);

} // namespace platform
