#include "FramePointerCode.h"

#include "platform/GuardedMemory.h"
#include "platform/ThreadSnapshot.h"

namespace fpcode {
namespace {

volatile int sink = 0; // touched after each call so none becomes a tail call

[[gnu::noinline]] void FpInner(crash::stack::ThreadCapture& capture)
{
    std::uint64_t rsp = 0;
    asm volatile("mov %%rsp, %0" : "=r"(rsp));
    capture.threadId = platform::CurrentThreadId();
    capture.accessible = true;
    capture.context.rsp = rsp;
    capture.context.rbp = reinterpret_cast<std::uint64_t>(__builtin_frame_address(0));
    capture.context.rip = reinterpret_cast<std::uint64_t>(&FpInner);
    capture.stack.resize(64 * 1024);
    capture.stack.resize(platform::ReadOwnMemory(rsp, capture.stack.data(), capture.stack.size()));
    capture.stackTop = rsp + capture.stack.size();
    asm volatile("" ::: "memory");
}

[[gnu::noinline]] void FpMiddle(crash::stack::ThreadCapture& capture)
{
    FpInner(capture);
    sink = sink + 1;
}

} // namespace

[[gnu::noinline]] void FpOuter(crash::stack::ThreadCapture& capture)
{
    FpMiddle(capture);
    sink = sink + 2;
}

} // namespace fpcode
