#include "crash/core/settings/LeftoverObjects.h"

#include "platform/LeftoverNamedObjects.h"

#include <mutex>

namespace crash {

void RemoveLeftoverObjectsOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        platform::RemoveLeftoverNamedObjects({QStringLiteral("HalvornSettingsBuf2"),
                                              QStringLiteral("HalvornSettingsMtx"),
                                              QStringLiteral("HalvornThreadNameBuf"),
                                              QStringLiteral("HalvornRestart")});
    });
}

} // namespace crash
