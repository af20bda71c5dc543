#pragma once
// A process's named mutex for its threads and modules: a POSIX named semaphore of count 1,
// owner-only, in glibc's layout ("sem.<name>" in /dev/shm) with this process's owner stamp after
// it. Unlike a Windows mutex its name outlives the last user, so whoever tears down what the mutex
// guards removes the name as well; a waiter that wakes on a semaphore removed meanwhile sees
// isCurrent() turn false and starts over with a fresh open.
//
// The file is opened with O_NOFOLLOW and checked on its descriptor before it is mapped, and only a
// semaphore this process made is used: one another account planted under the name, or one of a live
// process of another PID namespace with the same id, makes this process keep its semaphore in the
// user's private object folder instead. Every wait has a bound.

#include <QByteArray>
#include <QString>
#include <memory>

namespace platform {

class NamedSemaphore
{
public:
    // This process's semaphore `name`, created (unlocked) when it has none; with othersMayRead it
    // is created with mode 0644. Null when none can be had.
    static std::unique_ptr<NamedSemaphore> open(const QString& name, bool othersMayRead = false);
    // Removes this process's semaphore `name`.
    static bool remove(const QString& name);
    // Whether the name is taken in /dev/shm (by anyone).
    static bool exists(const QString& name);

    ~NamedSemaphore();
    NamedSemaphore(const NamedSemaphore&) = delete;
    NamedSemaphore& operator=(const NamedSemaphore&) = delete;

    // Waits at most `milliseconds`; true when locked.
    bool lockFor(int milliseconds);
    void unlock();
    // Whether the name still refers to this very semaphore.
    bool isCurrent() const;

private:
    NamedSemaphore(void* mapping, QByteArray path, unsigned long long device, unsigned long long inode)
        : m_mapping(mapping), m_path(std::move(path)), m_device(device), m_inode(inode)
    {
    }
    void* m_mapping; // the sem_t, then the owner stamp
    QByteArray m_path;
    unsigned long long m_device;
    unsigned long long m_inode;
};

} // namespace platform
