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
    ParkHere();
    sink = sink + n;
}

[[gnu::noinline]] void CallThroughPointer()
{
    callback();
    sink = sink + 7;
}

} // namespace park
