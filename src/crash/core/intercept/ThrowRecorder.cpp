// Raise-time stacks: every C++ throw records the raising thread's return addresses, so a report of
// a caught exception shows the throw site, not only where it was caught. Kept per thread in a small
// ring keyed by the thrown object's address. A deep stack (a stack overflow turned into an
// exception) keeps its innermost and its outermost frames, so its listing still reaches the
// thread's start.
#include "crash/core/handler/HandleException.h"
#include "crash/core/handler/HandlerRegistry.h"
#include "crash/core/intercept/InterceptPoints.h"
#include "crash/core/stack/StackTrace.h"
#include "platform/OwnStackWalk.h"
#include "platform/RuntimeRedirections.h"

#include <cstring>
#include <cxxabi.h>
#include <string>

namespace crash {
namespace {

constexpr int kInnerFrames = 48;
constexpr int kOuterFrames = 32;
// A walk of a whole stack takes about a tenth of a microsecond per frame; an 8 MB stack of the
// smallest frames is half of this bound.
constexpr std::size_t kWalkBound = 1u << 20;

struct RaiseRecord
{
    const void* object = nullptr;
    // The innermost frames; for a deeper stack then the gap (its mark and the number of frames left
    // out) and the outermost frames.
    std::uintptr_t frames[kInnerFrames + 2 + kOuterFrames];
    int depth = 0;
};
constexpr int kRing = 4;
thread_local RaiseRecord t_ring[kRing];
thread_local int t_next = 0;
thread_local bool t_reporting = false;

// Appends the frames beyond the innermost ones, when the stack has more.
void RecordOuterFrames(RaiseRecord& record)
{
    std::uintptr_t outer[kOuterFrames];
    const platform::OutermostFrames walk =
        platform::WalkToThreadStart(record.frames[0], outer, kOuterFrames, kWalkBound);
    if (walk.walked <= std::size_t(kInnerFrames))
        return;
    const std::size_t beyond = walk.walked - kInnerFrames; // frames after the innermost ones
    const std::size_t leftOut = beyond > walk.kept ? beyond - walk.kept : 0;
    if (leftOut > 0) {
        record.frames[record.depth++] = std::uintptr_t(stack::RaiseStackGap);
        record.frames[record.depth++] = leftOut;
    }
    // Those of the outermost frames that are not among the innermost ones already.
    for (std::size_t i = walk.kept - std::min(beyond, walk.kept); i < walk.kept; ++i)
        record.frames[record.depth++] = outer[i];
}

void OnThrow(void* object, const std::type_info* type, const std::uintptr_t* stack, int depth)
{
    RaiseRecord& record = t_ring[t_next];
    t_next = (t_next + 1) % kRing;
    record.object = object;
    record.depth = depth < kInnerFrames ? depth : kInnerFrames;
    std::memcpy(record.frames, stack, sizeof(std::uintptr_t) * static_cast<std::size_t>(record.depth));
    if (depth > kInnerFrames)
        RecordOuterFrames(record);

    // Report-only handlers see every raise (source 15), but never the handler thread's own.
    if (t_reporting || IsHandlerThread() || !HandlerRegistry::instance().has(HandlerEvent::ReportOnly))
        return;
    t_reporting = true;
    int status = 0;
    char* name = type ? abi::__cxa_demangle(type->name(), nullptr, nullptr, &status) : nullptr;
    const std::string className = name && status == 0 ? name : (type ? type->name() : "exception");
    std::free(name);
    HandleExceptionRequest request;
    request.type = ExceptionType::ReportOnly;
    request.source = ExceptionSource::RaiseTime;
    request.className = className.c_str();
    request.raiseStack = record.frames;
    request.raiseDepth = record.depth;
    request.exceptionAddress = record.depth > 0 ? record.frames[0] : 0;
    HandleException(request);
    t_reporting = false;
}

} // namespace

const std::uintptr_t* RaiseStackOf(const std::exception_ptr& error, int& depth)
{
    depth = 0;
    if (!error)
        return nullptr;
    // libstdc++'s exception_ptr holds the thrown object's address, as __cxa_throw received it.
    static_assert(sizeof(std::exception_ptr) == sizeof(void*));
    const void* object = nullptr;
    std::memcpy(&object, &error, sizeof object);
    for (const RaiseRecord& record : t_ring)
        if (record.object == object && record.depth > 0) {
            depth = record.depth;
            return record.frames;
        }
    return nullptr;
}

InnerRaiseStacks InnerRaiseStacksOf(const std::exception_ptr& error)
{
    InnerRaiseStacks stacks;
    std::exception_ptr current = error;
    for (int level = 0; level < InnerRaiseStacks::kLevels; ++level) {
        current = NestedExceptionOf(current);
        if (!current)
            break;
        stacks.stack[level] = RaiseStackOf(current, stacks.depth[level]);
    }
    return stacks;
}

void InstallThrowRecording()
{
    platform::RedirectThrow(&OnThrow);
}

} // namespace crash
