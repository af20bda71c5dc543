#pragma once
// A named mutex for the threads and modules of this user's processes: a POSIX named semaphore of
// count 1, owner-only. Unlike a Windows mutex its name outlives the last user, so whoever tears
// down what the mutex guards removes the name as well; a waiter that wakes on a semaphore removed
// meanwhile sees isCurrent() turn false and starts over with a fresh open.

#include <QString>
#include <memory>

namespace platform {

class NamedSemaphore
{
public:
    // Opens the semaphore, creating it (unlocked) when the name is free; with othersMayRead it is
    // created with mode 0644. Null when the name belongs to another user or the system refuses.
    static std::unique_ptr<NamedSemaphore> open(const QString& name, bool othersMayRead = false);
    static bool remove(const QString& name);
    static bool exists(const QString& name);

    ~NamedSemaphore();
    NamedSemaphore(const NamedSemaphore&) = delete;
    NamedSemaphore& operator=(const NamedSemaphore&) = delete;

    // Waits without a time limit.
    void lock();
    // Waits at most `milliseconds`; true when locked.
    bool lockFor(int milliseconds);
    void unlock();
    // Whether the name still refers to this very semaphore.
    bool isCurrent() const;

private:
    NamedSemaphore(void* sem, QByteArray name) : m_sem(sem), m_name(std::move(name)) {}
    void* m_sem; // sem_t*
    QByteArray m_name;
};

} // namespace platform
