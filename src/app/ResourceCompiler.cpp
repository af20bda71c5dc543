#include "app/ResourceCompiler.h"

#include "app/uMain.h"
#include "platform/Exception.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"
#include "platform/WinePrefix.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

namespace app {

void RunResourceCompiler(const QString& name, const QString& sourceFolder)
{
    const QString toolFolder = ToolFolder();
    const QString outputFolder = toolFolder + QStringLiteral("NewSkin/");
    if (!QDir(outputFolder).exists())
        QDir().mkpath(outputFolder);
    QCoreApplication::processEvents();

    // The tool's own files are found without regard to case, as on Windows.
    const QString compiler = platform::WinePrefix::resolveNativePath(toolFolder + QStringLiteral("rcc.exe"));
    if (!QFile::exists(compiler))
        throw platform::Exception(QStringLiteral("Not find rcc.exe"));

    const QString base = outputFolder + name;
    const qsizetype cut = std::max(base.lastIndexOf(QLatin1Char('/')), base.lastIndexOf(QLatin1Char(':')));
    const QString baseName = base.mid(cut + 1);
    const QString outputProject = outputFolder + baseName + QStringLiteral(".qrc");
    const QString sourceProject = sourceFolder + baseName + QStringLiteral(".qrc");
    const QString bundle = outputFolder + baseName + QStringLiteral(".rcc");
    const QString root = QLatin1Char('/') + baseName;

    if (!QDir(sourceFolder).exists())
        QDir().mkpath(sourceFolder);
    QFile::remove(outputProject);

    QDir::setCurrent(sourceFolder);
    // The paths are native ones and may hold a quote mark, which the Windows split would take as
    // the end of the argument; the root is the typed name and goes in as it is.
    using platform::EscapeInsideQuotes;
    platform::RunAndWait(
        compiler, QStringLiteral("-o \"%1\" -project").arg(EscapeInsideQuotes(outputProject)), sourceFolder);
    if (!QFile::exists(outputProject))
        throw platform::Exception(QStringLiteral("Make qrc failed"));

    // The compile run reads the project from inside the folder it lists.
    QFile::remove(sourceProject);
    QFile::copy(outputProject, sourceProject);
    QFile::remove(bundle);

    QDir::setCurrent(sourceFolder);
    platform::RunAndWait(compiler,
                         QStringLiteral("-binary \"%1\" -o \"%2\" -no-compress -root %3")
                             .arg(EscapeInsideQuotes(sourceProject), EscapeInsideQuotes(bundle), root),
                         sourceFolder);
    if (!QFile::exists(bundle))
        platform::ShowMessageBox(QStringLiteral("Make skin failed!"), kApplicationTitle,
                                 platform::MsgIcon::Warning);
    QFile::remove(sourceProject);

    QThread::msleep(500);
    QCoreApplication::processEvents();
}

} // namespace app
