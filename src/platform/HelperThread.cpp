#include "platform/HelperThread.h"

#include <utility>

namespace platform {

HelperThread::HelperThread(std::function<void()> work)
    : m_thread([work = std::move(work)] {
          try {
              work();
          } catch (...) {
              // Dropped on purpose: the main thread repeats the work (see the header).
          }
      })
{
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
