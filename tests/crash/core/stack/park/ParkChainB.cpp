#include "Park.h"

#include <cstdio>

namespace park {

// Leaves return addresses of the formatting code behind on the stack, where the next call's
// uninitialised locals will lie.
[[gnu::noinline]] void Noise(int n)
{
    char text[512];
    std::snprintf(text, sizeof text, "%d %5.3f %s %x %p", n, n * 0.5, "noise", unsigned(n), static_cast<void*>(text));
    sink = sink + text[3];
}

[[gnu::noinline]] void BetaMiddle(int n)
{
    Noise(n);
    GammaInner(n * 2);
    sink = sink + n;
}

[[gnu::noinline]] int Recurse(int depth)
{
    if (depth > 0) {
        const int below = Recurse(depth - 1);
        sink = sink + below;
        return below + 1;
    }
    ParkHere();
    sink = sink + 1;
    return 0;
}

[[gnu::noinline]] void Worker::Run(int n)
{
    Recurse(n);
    sink = sink + 3;
}

} // namespace park
