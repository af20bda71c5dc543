#pragma once
// Runtime routines redirected in every module: thread creation, the C++ raise routine, thread
// naming and the two fatal run-time errors. Each redirection hands what it sees to one callback of
// the crash reporter and then does what the original routine does. The executable defines the
// routines itself, so this holds for every module, also one opened later, from the program's
// start; the calls below only set the callbacks. Set them once, early, while no other thread
// creates threads.

#include <cstdint>
#include <typeinfo>

namespace platform {

// A thread about to run: its routine and argument, who created it and from where.
struct ThreadStart
{
    void* (*routine)(void*) = nullptr;
    void* argument = nullptr;
    std::int64_t creatorThread = 0;
    std::uintptr_t creationAddress = 0;
};
// Runs `start.routine(start.argument)` on the new thread, inside the caller's frame; its result is
// the thread's result.
using ThreadRunner = void* (*)(const ThreadStart& start);
bool RedirectThreadCreation(ThreadRunner runner);
// Whether `routine` is the start routine of the Qt Core module (its argument is the QThread then).
bool IsQtCoreAddress(const void* routine);

// Called for every C++ throw before the exception leaves its raising frame, with the return
// addresses of the raising thread (innermost first).
using ThrowObserver = void (*)(void* object, const std::type_info* type, const std::uintptr_t* stack,
                               int depth);
bool RedirectThrow(ThrowObserver observer);

// Called when a thread's name is set; `threadHandle` is the pthread_t.
using ThreadNameObserver = void (*)(std::uintptr_t threadHandle, const char* name);
bool RedirectThreadNaming(ThreadNameObserver observer);
// The kernel id of a thread of this process from its pthread_t (0 when it cannot be told).
std::int64_t KernelThreadIdOf(std::uintptr_t threadHandle);

enum class RuntimeError
{
    PureVirtualCall,
    StackSmashing
};
// Should not return; when it does, the process aborts as the original routine would.
using RuntimeErrorHandler = void (*)(RuntimeError error, std::uintptr_t callerAddress);
bool RedirectRuntimeErrors(RuntimeErrorHandler handler);

// Called before a thread of Qt Core or GLib waits in poll/ppoll for its next event (the event
// loop's wait), so the crash reporter can hold it there while threads are paused.
using EventWaitObserver = void (*)();
bool RedirectEventWait(EventWaitObserver observer);

// Clears every callback above and puts the event-loop waits' slots back.
void RestoreRuntimeRedirections();

} // namespace platform
