#include "Park.h"

namespace park {

namespace {
[[gnu::noinline]] void CallbackTarget()
{
    ParkHere();
    sink = sink + 5;
}
void (*volatile callback)() = &CallbackTarget;
} // namespace

[[gnu::noinline]] void GammaInner(int n)
{
    char scratch[4096]; // left uninitialised: it holds what earlier calls left on the stack
    asm volatile("" : : "r"(scratch) : "memory");
    ParkHere();
    sink = sink + n;
}

[[gnu::noinline]] void CallThroughPointer()
{
    callback();
    sink = sink + 7;
}

} // namespace park
