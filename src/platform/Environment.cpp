#include "platform/Environment.h"

#include <QtGlobal>

namespace platform {

QString GetEnvironmentVariable(const QString& name)
{
    return qEnvironmentVariable(name.toLocal8Bit().constData());
}

} // namespace platform
