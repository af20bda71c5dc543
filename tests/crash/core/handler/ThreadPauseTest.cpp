#include "crash/core/handler/MainThreadBridge.h"
#include "crash/core/handler/ThreadPause.h"
#include "platform/FaultSignals.h"
#include "platform/RuntimeRedirections.h"

#include <gtest/gtest.h>

#include <QThread>
#include <QTimer>
#include <atomic>

using namespace crash;

namespace {

// A thread with its own event loop that counts timer ticks.
class TickingThread : public QThread
{
public:
    std::atomic<int> ticks{0};
    std::atomic<std::int64_t> kernelId{0};

protected:
    void run() override
    {
        kernelId = platform::CurrentKernelThreadId();
        QTimer timer;
        timer.setInterval(2);
        QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
        timer.start();
        exec();
    }
};

int TicksDuring(TickingThread& thread, int ms)
{
    const int before = thread.ticks.load();
    QThread::msleep(ms);
    return thread.ticks.load() - before;
}

} // namespace

TEST(ThreadPause, AListedThreadStopsAtItsNextEventWaitAndGoesOnAfterResume)
{
    ASSERT_TRUE(platform::RedirectEventWait(&ThreadPause::waitIfPaused)) << "no event-loop wait found to redirect";
    SetMainThreadId(platform::CurrentKernelThreadId());
    TickingThread listed, other;
    listed.start();
    other.start();
    while (!listed.kernelId.load() || !other.kernelId.load() || listed.ticks.load() < 5 || other.ticks.load() < 5)
        QThread::msleep(5);
    ThreadPause::setThreadLister([&] { return std::vector<std::int64_t>{listed.kernelId.load(), other.kernelId.load()}; });

    // The crashed thread is never paused: here that is `other`.
    ThreadPause::pause(platform::CurrentKernelThreadId(), other.kernelId.load());
    QThread::msleep(50); // let the listed thread reach its wait
    EXPECT_EQ(TicksDuring(listed, 200), 0);
    EXPECT_GT(TicksDuring(other, 200), 0);

    ThreadPause::resume();
    EXPECT_GT(TicksDuring(listed, 200), 0);

    listed.quit();
    other.quit();
    EXPECT_TRUE(listed.wait(5000));
    EXPECT_TRUE(other.wait(5000));
    ThreadPause::setThreadLister({});
    platform::RestoreRuntimeRedirections();
}

TEST(ThreadPause, TheMainThreadIsHeldOnItsOwnEventUnlessItIsWaitingForAHandling)
{
    std::atomic<std::int64_t> id{0};
    std::atomic<bool> go{false};
    std::atomic<int> stage{0};
    QThread* mainStandIn = QThread::create([&] {
        id = platform::CurrentKernelThreadId();
        while (!go.load())
            QThread::msleep(1);
        {
            ThreadPause::WaitingForHandling waiting;
            ThreadPause::waitIfPaused(); // exempt: returns at once
        }
        stage = 1;
        ThreadPause::waitIfPaused(); // held until resume
        stage = 2;
    });
    mainStandIn->start();
    while (!id.load())
        QThread::msleep(1);
    SetMainThreadId(id.load());
    ThreadPause::pause(platform::CurrentKernelThreadId(), 0);
    go = true;
    QThread::msleep(200);
    EXPECT_EQ(stage.load(), 1);
    ThreadPause::resume();
    EXPECT_TRUE(mainStandIn->wait(5000));
    EXPECT_EQ(stage.load(), 2);
    delete mainStandIn;
    SetMainThreadId(0);
}
