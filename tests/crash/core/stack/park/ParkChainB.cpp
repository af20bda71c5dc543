#include "Park.h"

namespace park {

[[gnu::noinline]] void BetaMiddle(int n)
{
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
