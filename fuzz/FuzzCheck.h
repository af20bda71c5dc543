#pragma once
// The property checks of the fuzz targets: a property that does not hold ends the run as a finding.

#include <cstdlib>

namespace fuzz {

inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace fuzz
