#include "platform/Shell.h"

#include "platform/WinePrefix.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace platform {

QString WineLoader()
{
    const QString wine = qEnvironmentVariable("WINE");
    return wine.isEmpty() ? QStringLiteral("wine") : wine;
}

bool ShellOpen(const QString& target, const QStringList& arguments, const QString& workingFolder)
{
    QProcess process;
    process.setWorkingDirectory(WinePrefix::toNativePath(workingFolder));
    if (target.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINEPREFIX"), WinePrefix::path());
        process.setProcessEnvironment(env);
        process.setProgram(WineLoader());
        process.setArguments(QStringList{target} + arguments);
    } else {
        // Folders, documents and web addresses go to the desktop's default opener.
        process.setProgram(QStringLiteral("xdg-open"));
        process.setArguments(QStringList{WinePrefix::toNativePath(target)});
    }
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

} // namespace platform
