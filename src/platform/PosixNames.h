#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// The POSIX object name ("/" + one path component) for a named semaphore or shared memory block;
// false for a name that cannot be one (empty, with a slash, or longer than 200 characters).
bool ToPosixName(const QString& name, QByteArray& out);

} // namespace platform
