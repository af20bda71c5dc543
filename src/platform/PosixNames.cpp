#include "platform/PosixNames.h"

namespace platform {

bool ToPosixName(const QString& name, QByteArray& out)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.size() > 200)
        return false;
    out = "/" + name.toUtf8();
    return true;
}

} // namespace platform
