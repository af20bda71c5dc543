// Raise-time stacks: every C++ throw records the raising thread's return addresses, so a report of
// a caught exception shows the throw site, not only where it was caught. Kept per thread in a small
// ring keyed by the thrown object's address.
#include "crash/core/handler/HandleException.h"
#include "crash/core/handler/HandlerRegistry.h"
#include "crash/core/intercept/InterceptPoints.h"
#include "platform/RuntimeRedirections.h"

#include <cstring>
#include <cxxabi.h>
#include <string>

namespace crash {
namespace {

struct RaiseRecord
{
    const void* object = nullptr;
    std::uintptr_t frames[48];
    int depth = 0;
};
constexpr int kRing = 4;
thread_local RaiseRecord t_ring[kRing];
thread_local int t_next = 0;
thread_local bool t_reporting = false;

void OnThrow(void* object, const std::type_info* type, const std::uintptr_t* stack, int depth)
{
    RaiseRecord& record = t_ring[t_next];
    t_next = (t_next + 1) % kRing;
    record.object = object;
    record.depth = depth < 48 ? depth : 48;
    std::memcpy(record.frames, stack, sizeof(std::uintptr_t) * static_cast<std::size_t>(record.depth));

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
