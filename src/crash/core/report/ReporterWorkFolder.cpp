#include "crash/core/report/ReporterWorkFolder.h"

#include "platform/ModuleHandle.h"

#include <QFileInfo>

namespace crash {

QString ReporterWorkFolder::name()
{
    return QFileInfo(platform::ModuleFileName(0)).completeBaseName() + QStringLiteral(".Halvorn");
}

std::unique_ptr<platform::PrivateFolder> ReporterWorkFolder::open()
{
    return platform::PrivateFolder::openWorkFolder(name());
}

void ReporterWorkFolder::removeLeftovers()
{
    if (const auto folder = open())
        folder->removeLeftovers();
}

} // namespace crash
