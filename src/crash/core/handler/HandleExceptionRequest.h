#pragma once
// The record an intercepting thread hands to the handler thread: fixed size, trivially copyable,
// written whole into a pipe. Pointers in it point into the caller's frame, which stays alive
// because the caller waits for the completion event.

#include "crash/core/report/ExceptionReport.h"
#include "crash/core/stack/StackTrace.h"
#include "platform/EventFd.h"
#include "platform/FaultSignals.h"

#include <cstdint>
#include <exception>
#include <type_traits>

namespace crash {

// The raise-time stacks of the exception's nested exceptions (std::nested_exception), outermost
// first, looked up in the raising thread, which recorded them.
struct InnerRaiseStacks
{
    static constexpr int kLevels = 8;
    const std::uintptr_t* stack[kLevels] = {};
    std::int32_t depth[kLevels] = {};
};

// The exception nested in `error` (std::nested_exception), or null.
std::exception_ptr NestedExceptionOf(const std::exception_ptr& error);

struct HandleExceptionRequest
{
    std::int64_t threadId = 0; // the crashed thread; the caller's when 0
    ExceptionType type = ExceptionType::Exception;
    ExceptionSource source = ExceptionSource::Explicit;
    const std::exception_ptr* object = nullptr; // the C++ exception, when there is one
    std::uintptr_t exceptionAddress = 0;
    bool canContinue = true;
    bool inSignalHandler = false; // the caller runs in a signal handler: no event pumping, no allocation
    bool processBlocked = false;  // the loader or allocator may be locked: handle in the caller
    std::uint64_t stackPointer = 0;
    std::uint64_t framePointer = 0;
    const stack::CpuContext* context = nullptr;
    const platform::FaultRecord* fault = nullptr; // a fault handled without an exception object
    const void* relatedObject = nullptr;
    const std::uintptr_t* raiseStack = nullptr; // return addresses at throw time, innermost first
    std::int32_t raiseDepth = 0;
    const InnerRaiseStacks* innerRaiseStacks = nullptr;
    const char* className = nullptr; // for events without an object (abnormal termination, run-time error)
    const char* message = nullptr;
    platform::EventFd* completion = nullptr; // null ends the handler thread
};

static_assert(std::is_trivially_copyable_v<HandleExceptionRequest>);
static_assert(sizeof(HandleExceptionRequest) <= 160);

} // namespace crash
