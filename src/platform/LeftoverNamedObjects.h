#pragma once
// Named objects that carry their process's id ("<prefix>$<hex id>": shared memory sections and
// semaphores) outlive a process that ends without removing them: one that is killed, or that ends
// through _exit. Left alone they pile up, and a later process that gets the same id finds a stale
// one: a semaphore still held by the dead owner would block it for good.

#include <QStringList>

namespace platform {

// Removes this user's objects named "<prefix>$<hex id>" for one of `prefixes`, in /dev/shm and in
// the private fallback folder, whose process provably ended (NamedObjectOwner.h): objects of live
// processes in other PID namespaces that share /dev/shm stay. Returns how many it removed.
int RemoveLeftoverNamedObjects(const QStringList& prefixes);

} // namespace platform
