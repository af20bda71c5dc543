#include "platform/HelperThread.h"

#include <system_error>
#include <utility>

namespace platform {

HelperThread::HelperThread(std::function<void()> work)
{
    if (!work)
        return;
    try {
        m_thread = std::thread(std::move(work));
    } catch (const std::system_error&) {
        // No thread to spare: the main thread does the work on first use instead.
    }
}

HelperThread::~HelperThread()
{
    join();
}

void HelperThread::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace platform
