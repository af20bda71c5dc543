#include "platform/FontConfiguration.h"

#include <fontconfig/fontconfig.h>

namespace platform {

void LoadFontConfiguration()
{
    // Thread-safe: when two threads start it together, one result is kept and the other freed.
    FcInit();
}

} // namespace platform
