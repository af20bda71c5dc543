#include "Park.h"

namespace park {

namespace {
[[gnu::always_inline]] inline void InlinedStep()
{
    ParkHere();
    sink = sink + 1;
}
} // namespace

[[gnu::noinline]] void AlphaOuter(int n)
{
    BetaMiddle(n + 1);
    sink = sink + n;
}

[[gnu::noinline]] void AlphaWithInline()
{
    InlinedStep();
    sink = sink + 2;
}

} // namespace park
