#pragma once
// A numbered place on the screen shared by the windows of several processes (the stacked
// progress windows). Slot n is the named semaphore "<base><n>" (count 1, this user's); whoever took
// it records its process id beside it, so a slot whose holder died without giving it back is
// taken over instead of staying lost.

#include <QString>
#include <memory>

namespace platform {

class ScreenSlot
{
public:
    // The first free slot of base0 .. base(count-1); null when all are held by live processes.
    static std::unique_ptr<ScreenSlot> take(const QString& baseName, int count);
    ~ScreenSlot(); // gives the slot back
    ScreenSlot(const ScreenSlot&) = delete;
    ScreenSlot& operator=(const ScreenSlot&) = delete;

    int number() const { return m_number; }

private:
    ScreenSlot(int number, void* semaphore, int* holder)
        : m_number(number), m_semaphore(semaphore), m_holder(holder)
    {
    }
    int m_number;
    void* m_semaphore; // sem_t*
    int* m_holder;     // the holder's process id in a shared page
};

} // namespace platform
