#pragma once
// One listed thread of a report: what the first build step learned about it (its section, the
// captured registers and stack) and, after completion, its traced call stack.

#include "crash/core/stack/StackTrace.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace crash {

// An exception nested inside the reported one (std::nested_exception), outermost first.
struct InnerException
{
    QString className;
    QString message;
    std::optional<stack::CpuContext> context;
    std::vector<std::uint64_t> raiseTimeStack;
};

struct ThreadRecord
{
    std::int64_t threadId = 0;
    QString title; // the section's name
    std::uint64_t exceptionAddress = 0;
    bool exceptionAtCall = false; // the address is a call the thread made (a throw, a runtime error)
    bool crashed = false;
    bool external = false;            // a processor exception (signal)
    bool abnormalTermination = false; // abort or terminate
    std::uint64_t stackPointer = 0;
    std::uint64_t stackTop = 0;
    std::uint64_t framePointer = 0;
    std::vector<std::uint64_t> preparedStack; // return addresses captured at throw time
    bool otherThread = false;                 // listed because every thread is (ListThreads)
    int innerLevel = 0;                       // 0: the thread itself; n: its n-th inner exception
    QString innerClass;
    QString innerMessage;

    stack::ThreadCapture capture;
    // The thread that created this one and where, when the registry knows.
    QString creatorDescription;
    std::optional<std::uint64_t> creationAddress;

    bool traced = false;
    stack::TraceResult trace;
};

} // namespace crash
