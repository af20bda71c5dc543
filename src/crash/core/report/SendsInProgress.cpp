#include "crash/core/report/SendsInProgress.h"

#include "crash/core/report/ReportServices.h"
#include "crash/core/settings/CrashSettings.h"

#include <QCoreApplication>
#include <QThread>
#include <condition_variable>
#include <mutex>

namespace crash {
namespace {

struct Counter
{
    std::mutex lock;
    std::condition_variable changed;
    int running = 0;
};

Counter& Sends()
{
    static Counter& counter = *new Counter; // a send may still end during the static teardown
    return counter;
}

// A wait longer than this shows the progress window.
constexpr auto kQuietWait = std::chrono::seconds(1);

bool OnGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

SendsInProgress::Token SendsInProgress::begin()
{
    Counter& sends = Sends();
    {
        std::lock_guard guard(sends.lock);
        ++sends.running;
    }
    return Token(static_cast<void*>(&sends), [](void* counter) {
        auto& sends = *static_cast<Counter*>(counter);
        std::lock_guard guard(sends.lock);
        --sends.running;
        sends.changed.notify_all();
    });
}

int SendsInProgress::count()
{
    std::lock_guard guard(Sends().lock);
    return Sends().running;
}

bool SendsInProgress::waitForAll(std::chrono::milliseconds limit, const std::function<void()>& whileWaiting)
{
    Counter& sends = Sends();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock guard(sends.lock);
    while (sends.running > 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        sends.changed.wait_for(guard, std::min<std::chrono::steady_clock::duration>(
                                          deadline - now, std::chrono::milliseconds(50)));
        if (whileWaiting && sends.running > 0) {
            guard.unlock();
            whileWaiting();
            guard.lock();
        }
    }
    return true;
}

bool WaitForSendsAtProgramEnd()
{
    if (SendsInProgress::count() == 0)
        return true;
    const bool gui = OnGuiThread();
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<ProgressAlert> progress;
    const bool ended = SendsInProgress::waitForAll(SendsAtEndLimit, [&] {
        if (!gui)
            return;
        if (!progress && Services().progress && std::chrono::steady_clock::now() - started > kQuietWait) {
            const auto settings = MainSettings();
            progress = Services().progress(settings ? settings->SendBoxTitle() : QString(),
                                           settings ? settings->SendFinalMsg() : QString());
            if (progress)
                progress->show(true);
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
    });
    if (progress)
        progress->close();
    return ended;
}

} // namespace crash
