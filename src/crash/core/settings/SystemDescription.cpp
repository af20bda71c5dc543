#include "crash/core/settings/SystemDescription.h"

#include <QSysInfo>

namespace crash {

QString OperatingSystemDescription()
{
    QString description = QSysInfo::prettyProductName();
    if (description.isEmpty())
        description = QSysInfo::kernelType();
    if (QSysInfo::currentCpuArchitecture() == QLatin1String("x86_64"))
        description += QLatin1String(" x64");
    return description;
}

QString OperatingSystemBuild()
{
    return QSysInfo::kernelVersion();
}

} // namespace crash
