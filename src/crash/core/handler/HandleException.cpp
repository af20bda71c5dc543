#include "crash/core/handler/HandleException.h"

#include "crash/core/handler/AllocatorStall.h"
#include "crash/core/handler/AutomaticSend.h"
#include "crash/core/handler/EmergencyReport.h"
#include "crash/core/handler/HandlingFlow.h"
#include "crash/core/handler/MainThreadBridge.h"
#include "crash/core/handler/OutOfMemoryReserve.h"
#include "crash/core/handler/ProcessRestart.h"
#include "crash/core/handler/ThreadPause.h"
#include "crash/core/report/SendsInProgress.h"
#include "crash/core/threads/ThreadRegistry.h"
#include "platform/Exception.h"
#include "platform/FaultSignals.h"
#include "platform/ProcessControl.h"
#include "platform/RecordPipe.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

namespace crash {
namespace {

// Never freed at exit: the detached handler thread may still be reading it then.
platform::RecordPipe* g_pipe = nullptr;
std::atomic<std::int64_t> g_handlerThreadId{0};
std::atomic<bool> g_handlerRunning{false}; // from its creation until it leaves its loop
std::atomic<bool> g_handling{false};
std::atomic<int> g_requested{0}; // requests written to the pipe and not yet taken
std::atomic<bool> g_programEnding{false};
std::atomic<int> g_freezePause{0};
std::atomic<unsigned> g_freezeGeneration{0};
ExceptionHistory g_history;

// Without progress for this long, a handler thread counts as stuck.
constexpr auto kStall = std::chrono::seconds(10);
// How long the end waits for a presentation to give up (a dialog process is asked every 500 ms).
constexpr auto kPresentingAtEnd = std::chrono::seconds(3);
// The deadline of an in-place handling; the process ends rather than hangs.
constexpr long long kInPlaceDeadlineMs = 30000;
// How often an in-place handling is looked at.
constexpr int kInPlaceLookMs = 250;
// How long a handling may wait inside the allocator without progress before the report is written
// without it.
constexpr long long kAllocatorWaitMs = 1500;
// The longest any caller waits for a request that is not presenting to the user.
constexpr auto kLongestWait = std::chrono::minutes(15);

void HandlerLoop()
{
    platform::SetCurrentThreadName(HandleExceptionThreadName);
    if (ThreadRegistry* registry = ThreadRegistry::instance())
        registry->setName(platform::CurrentKernelThreadId(), QString::fromLatin1(HandleExceptionThreadName));
    g_handlerThreadId = platform::CurrentKernelThreadId();
    for (;;) {
        HandleExceptionRequest request;
        if (!g_pipe->read(&request, sizeof request, -1))
            break;
        if (!request.completion)
            break;
        g_handling = true;
        --g_requested;
        HandlingFlow(request).run();
        g_handling = false;
        request.completion->signal();
        // The waiting main thread may sit in its event loop: give it something to wake for.
        MainThreadBridge::wake();
    }
    g_handlerRunning = false;
    g_handlerThreadId = 0;
}

bool IsAbort(const HandleExceptionRequest& request)
{
    if (!request.object || !*request.object)
        return false;
    try {
        std::rethrow_exception(*request.object);
    } catch (const platform::EAbort&) {
        return true;
    } catch (...) {
    }
    return false;
}

// The in-place handling, watched from a timer signal: one that waits inside the
// allocator without progress (its own thread may hold the lock it waits for), or outlives its
// deadline, ends with the report written without the allocator.
std::atomic<const HandleExceptionRequest*> g_inPlace{nullptr};
std::atomic<bool> g_inPlaceWatched{false}; // set once the fields below are
std::int64_t g_inPlaceThread = 0;
long long g_inPlaceMs = 0;
AllocatorStall g_inPlaceStall(kAllocatorWaitMs);

void WatchInPlace(const platform::InterruptedThread& thread)
{
    const HandleExceptionRequest* request = g_inPlace.load();
    if (!request || !g_inPlaceWatched.load())
        return;
    g_inPlaceMs += kInPlaceLookMs;
    const platform::CodeRanges& ranges = EmergencyReport::codeRanges();
    const std::int64_t handling = g_inPlaceThread;
    const bool waits = thread.threadId == handling
                           ? platform::InterruptedWaitInAllocator(ranges, thread.pc, thread.sp)
                           : platform::ThreadWaitsInAllocator(ranges, handling);
    if (g_inPlaceStall.stuck(waits, HandlingFlow::progressStamp().load(), g_inPlaceMs) ||
        g_inPlaceMs >= kInPlaceDeadlineMs)
        EmergencyReport::saveAndClose(*request);
}

void RunInPlace(const HandleExceptionRequest& request)
{
    const HandleExceptionRequest* none = nullptr;
    if (!g_inPlace.compare_exchange_strong(none, &request)) {
        // Another thread's in-place handling is under way and ends the process.
        HandlingFlow(request, true).run();
        return;
    }
    g_inPlaceThread = platform::CurrentKernelThreadId();
    g_inPlaceMs = 0;
    g_inPlaceStall = AllocatorStall(kAllocatorWaitMs);
    g_inPlaceWatched = true;
    platform::StartTimerTicks(&WatchInPlace, kInPlaceLookMs);
    HandlingFlow(request, true).run();
    platform::StopTimerTicks();
    g_inPlaceWatched = false;
    g_inPlace = nullptr;
}

long long NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Waits for the handler thread to finish `request`. False when it stalled and the request was
// taken back (it may be handled in place then).
bool WaitForCompletion(const HandleExceptionRequest& request, platform::EventFd& done)
{
    const bool pump = !request.inSignalHandler && MainThreadBridge::isMainThread();
    long long lastStamp = HandlingFlow::progressStamp().load();
    auto lastMove = std::chrono::steady_clock::now();
    const auto started = lastMove;
    // A handler thread that waits inside the allocator can never finish: another thread holds the
    // lock, stopped inside it. The report is written here then, without the allocator.
    AllocatorStall stall(kAllocatorWaitMs);
    for (;;) {
        if (pump) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            if (done.wait(10))
                return true;
        } else if (done.wait(250)) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        const long long stamp = HandlingFlow::progressStamp().load();
        if (stall.stuck(
                platform::ThreadWaitsInAllocator(EmergencyReport::codeRanges(), g_handlerThreadId.load()),
                stamp, NowMs()))
            EmergencyReport::saveAndClose(request);
        if (stamp != lastStamp || HandlingFlow::presenting().load()) {
            lastStamp = stamp;
            lastMove = now;
            continue;
        }
        if (!request.canContinue && now - lastMove > kStall)
            return false;
        if (now - started > kLongestWait && now - lastMove > kStall)
            CloseProcess(); // the request still points into this frame: it cannot be given up
    }
}

} // namespace

void HandleException(HandleExceptionRequest request)
{
    if (IsHandlerThread())
        return; // an exception of the handling itself is never handled again
    ReleaseOutOfMemoryRegions();
    if (IsAbort(request)) {
        if (!request.canContinue)
            CloseProcess();
        return;
    }
    if (!request.threadId)
        request.threadId = platform::CurrentKernelThreadId();
    if (!request.stackPointer) {
        request.framePointer = reinterpret_cast<std::uint64_t>(__builtin_frame_address(0));
        request.stackPointer = request.framePointer;
    }
    if (request.context && request.exceptionAddress >= request.context->rip &&
        request.exceptionAddress <= request.context->rip + 4) {
        request.stackPointer = request.context->rsp;
        request.framePointer = request.context->rbp;
    }
    PauseFreezeWatchdog();
    ThreadPause::WaitingForHandling waiting;
    if (request.processBlocked || !g_pipe || !g_handlerRunning.load()) {
        RunInPlace(request);
    } else {
        platform::EventFd done;
        request.completion = &done;
        ++g_requested;
        const bool sent = done.isValid() && g_pipe->write(&request, sizeof request);
        if (!sent)
            --g_requested;
        if (sent) {
            // A stalled request that cannot continue is handled here; the process then ends, so the
            // handler thread can never reach back into this frame after it is gone.
            if (!WaitForCompletion(request, done) && !request.canContinue) {
                RunInPlace(request);
                CloseProcess();
            }
        }
    }
    ResumeFreezeWatchdog();
    ReserveOutOfMemoryRegions();
}

bool StartHandlerThread()
{
    if (g_pipe)
        return true;
    g_pipe = platform::RecordPipe::create().release();
    if (!g_pipe)
        return false;
    // Detached: it lives until the process ends or a stop request, and a joinable static thread
    // object would end the process in std::terminate at exit.
    // Not waited for: a request sent before the thread first runs waits in the pipe for it.
    g_handlerRunning = true;
    try {
        std::thread(HandlerLoop).detach();
    } catch (const std::system_error&) {
        g_handlerRunning = false;
        return false;
    }
    return true;
}

void StopHandlerThread()
{
    if (!g_pipe)
        return;
    HandleExceptionRequest stop;
    g_pipe->write(&stop, sizeof stop);
    // 500 ms and then 50 more; a thread still busy is left to the process's end.
    for (int i = 0; i < 55 && g_handlerRunning.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (g_handlerRunning.load())
        return; // the pipe stays: the thread still reads it
    delete g_pipe;
    g_pipe = nullptr;
}

void FinishHandlingAtExit()
{
    if (IsHandlerThread())
        return;
    g_programEnding = true;
    PauseFreezeWatchdog(); // the end itself keeps the main thread from its events
    long long lastStamp = HandlingFlow::progressStamp().load();
    auto lastMove = std::chrono::steady_clock::now();
    const auto busy = [] { return g_handling.load() || g_requested.load() > 0; };
    while (busy()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const long long stamp = HandlingFlow::progressStamp().load();
        const auto now = std::chrono::steady_clock::now();
        if (stamp != lastStamp) {
            lastStamp = stamp;
            lastMove = now;
        } else if (now - lastMove > (HandlingFlow::presenting().load() ? kPresentingAtEnd : kStall)) {
            break; // stuck, or a dialog that waits for the ending main thread
        }
    }
    if (busy())
        CloseProcess(); // before the exit destroys what the handler thread is working with
    // A send still running would be cut off by the exit, or fault in what the exit destroys. One
    // that outlasts the wait counts as failed: a save waiting for it runs now.
    if (!WaitForSendsAtProgramEnd())
        AutomaticSend::runWaitingSaves();
}

bool ProgramIsEnding()
{
    return g_programEnding.load();
}

bool IsHandlerThread()
{
    const std::int64_t id = g_handlerThreadId.load();
    return id != 0 && id == platform::CurrentKernelThreadId();
}

ExceptionHistory& History()
{
    return g_history;
}

void PauseFreezeWatchdog()
{
    ++g_freezePause;
    ++g_freezeGeneration;
}

void ResumeFreezeWatchdog()
{
    --g_freezePause;
}

bool FreezeWatchdogPaused()
{
    return g_freezePause.load() > 0;
}

void ClearFreezeCounter()
{
    ++g_freezeGeneration;
}

unsigned FreezePauseGeneration()
{
    return g_freezeGeneration.load();
}

} // namespace crash
