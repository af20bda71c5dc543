#include "crash/send/BackgroundSends.h"

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>

namespace crash::send {

namespace {

class Registry
{
public:
    ~Registry()
    {
        // At exit the sends still running finish first; each is bounded by its transports' time-outs.
        std::list<std::thread> threads;
        {
            std::lock_guard lock(m_lock);
            threads.swap(m_threads);
        }
        for (std::thread& t : threads)
            if (t.joinable())
                t.join();
    }

    bool start(std::function<void()> work)
    {
        std::lock_guard lock(m_lock);
        reapLocked();
        try {
            ++m_running;
            m_threads.emplace_back([this, work = std::move(work)] {
                work();
                std::lock_guard inner(m_lock);
                --m_running;
                m_finished.push_back(std::this_thread::get_id());
                m_changed.notify_all();
            });
        } catch (const std::system_error&) {
            --m_running;
            return false;
        }
        return true;
    }

    bool wait(int timeoutMs)
    {
        std::unique_lock lock(m_lock);
        const bool done =
            m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_running == 0; });
        reapLocked();
        return done;
    }

private:
    // Joins the threads that have ended (their join returns at once).
    void reapLocked()
    {
        for (const std::thread::id id : m_finished) {
            for (auto it = m_threads.begin(); it != m_threads.end(); ++it) {
                if (it->get_id() == id) {
                    it->join();
                    m_threads.erase(it);
                    break;
                }
            }
        }
        m_finished.clear();
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::list<std::thread> m_threads;
    std::list<std::thread::id> m_finished;
    int m_running = 0;
};

Registry& Threads()
{
    static Registry& registry = *new Registry; // outlives the static teardown
    return registry;
}

} // namespace

bool StartBackgroundSend(std::function<void()> work)
{
    return Threads().start(std::move(work));
}

bool WaitForBackgroundSends(int timeoutMs)
{
    return Threads().wait(timeoutMs);
}

} // namespace crash::send
