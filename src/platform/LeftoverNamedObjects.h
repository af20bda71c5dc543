#pragma once
// Named objects that carry their process's id ("<prefix>$<hex id>": shared memory sections and
// semaphores) outlive a process that ends without removing them: one that is killed, or that ends
// through _exit. Left alone they pile up, and a later process that gets the same id finds a stale
// one: a semaphore still held by the dead owner would block it for good.

#include <QStringList>

namespace platform {

// Removes this user's objects named "<prefix>$<hex id>" for one of `prefixes` whose process no
// longer runs, and those with this process's id that are older than this process. Returns how many
// it removed.
int RemoveLeftoverNamedObjects(const QStringList& prefixes);

} // namespace platform
